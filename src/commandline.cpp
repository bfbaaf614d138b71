#include "src/commandline.h"

#include <getopt.h>

#include <vector>

CCommandLine::SOptions CCommandLine::Parse(int argc, char* argv[], std::string& usageOut)
{
    SOptions options;
    options.logLevel = Log::GetLogLevel();

    static const option longOptions[] = {
        {"verbose", no_argument, nullptr, 'v'},
        {"quiet", no_argument, nullptr, 'q'},
        {"root", required_argument, nullptr, 'r'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };

    // getopt keeps global state; 0 makes it start over (tests parse repeatedly).
    optind = 0;
    opterr = 0;
    for (;;) {
        const int c = getopt_long(argc, argv, "hqvr:", longOptions, nullptr);
        if (c == -1) {
            break;
        }
        if (c == 'v') {
            options.logLevel = Log::GetLowerLogLevel(options.logLevel);
            Log::SetLogLevel(options.logLevel);
        } else if (c == 'q') {
            options.consoleLogging = false;
            Log::EnableConsoleLogging(false);
        } else if (c == 'r') {
            options.root = optarg;
        } else {
            usageOut = Usage(argc > 0 ? argv[0] : "tarv", options.root);
            options.usagePrinted = true;
            break;
        }
    }
    return options;
}

std::string CCommandLine::Usage(const std::string& program, const std::string& root)
{
    std::string text = "usage: " + program + " [OPTION]\n";
    text += "  -v, --verbose    increase verbosity\n";
    text += "  -q, --quiet      disable logging to console\n";
    text += "  -r, --root=PATH  set the filesystem root directory\n";
    text += "                   defaults to '" + root + "'\n";
    text += "  -h, --help       show this help message and exit\n";
    return text;
}
