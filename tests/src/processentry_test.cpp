#include "src/commandline.h"
#include "src/components/system/runcommand.h"
#include "src/terminatehandler.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <string>
#include <thread>
#include <vector>

namespace {

CCommandLine::SOptions Parse(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::string usage;
    return CCommandLine::Parse(static_cast<int>(args.size()), argv.data(), usage);
}

TEST(CommandLine, EachVerboseLowersTheLevelAndQuietSilencesTheConsole)
{
    Log::SetLogLevel(Log::info);
    Parse({"tarv", "-v", "--verbose", "-q", "ignored-argument"});
    EXPECT_EQ(Log::GetLogLevel(), Log::trace);
    EXPECT_FALSE(Log::mConsoleLoggingEnabled);
    Log::SetLogLevel(Log::info);
    Log::EnableConsoleLogging(true);
}

TEST(CommandLine, ABadOptionEndsParsing)
{
    Log::SetLogLevel(Log::info);
    Parse({"tarv", "-x", "-v"});
    EXPECT_EQ(Log::GetLogLevel(), Log::info);
}

// The real binary: usage on standard output, exit code 1.
TEST(ProcessEntry, BinaryPrintsUsageAndExitsWithOne)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"-h", "/"}, {"-r /some/dir/ -h", "/some/dir/"}, {"-h -r /x", "/"}, {"-r", "/"}, {"--unknown", "/"}};
    for (const auto& [args, root] : cases) {
        const SCommandResult run = CRunCommand().Run(std::string(TARV_BINARY) + " " + args + " 2>/dev/null", 0);
        EXPECT_EQ(run.exitCode, 1) << args;
        // The usage text names the program and the root in effect when it was printed.
        EXPECT_EQ(run.output.rfind(std::string("usage: ") + TARV_BINARY + " [OPTION]\n", 0), 0u) << run.output;
        EXPECT_NE(run.output.find("defaults to '" + root + "'"), std::string::npos) << run.output;
    }
}

// Death tests see standard error: route the log there inside the dying child.
void LogToStderr()
{
    Log::AddSink(std::make_shared<spdlog::sinks::stderr_sink_mt>());
    CTerminateHandler::Install();
}

struct SNotAnException {
};

TEST(TerminateHandlerDeathTest, UncaughtExceptionsAreNamedBeforeTheAbort)
{
    EXPECT_DEATH((LogToStderr(), std::thread([] { throw SNotAnException{}; }).join()),
                 "Uncaught exception of unknown type\\.[^\n]*\n.*Aborting process\\.");
    EXPECT_DEATH((LogToStderr(), std::thread([] { throw std::out_of_range("index 7"); }).join()),
                 "Uncaught exception of type 'std::out_of_range' with message: 'index 7'");
}

} // namespace
