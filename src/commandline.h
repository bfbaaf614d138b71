#pragma once
// Command line of the daemon: -v/--verbose, -q/--quiet, -r/--root=PATH, -h/--help.

#include "platform/log/log.h"

#include <string>

class CCommandLine {
public:
    struct SOptions {
        std::string root = "/";
        Log::ELogLevel logLevel = Log::info;
        bool consoleLogging = true;
        // Set when the usage text was printed: the process exits with 1.
        bool usagePrinted = false;
    };

    // Parses argv in order; -h or any unknown option (or a missing argument)
    // stops parsing and prints the usage text, with the root as far as parsed,
    // to out. -v and -q take effect on the logging library at once.
    static SOptions Parse(int argc, char* argv[], std::string& usageOut);

    static std::string Usage(const std::string& program, const std::string& root);
};
