#include "src/commandline.h"
#include "src/qelogger.h"
#include "src/terminatehandler.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

struct SParsed {
    CCommandLine::SOptions options;
    std::string usage;
};

SParsed Parse(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    SParsed result;
    result.options = CCommandLine::Parse(static_cast<int>(args.size()), argv.data(), result.usage);
    return result;
}

std::string ExpectedUsage(const std::string& program, const std::string& root)
{
    return "usage: " + program +
           " [OPTION]\n"
           "  -v, --verbose    increase verbosity\n"
           "  -q, --quiet      disable logging to console\n"
           "  -r, --root=PATH  set the filesystem root directory\n"
           "                   defaults to '" +
           root +
           "'\n"
           "  -h, --help       show this help message and exit\n";
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { Log::SetLogLevel(Log::info); }
    void TearDown() override
    {
        Log::SetLogLevel(Log::info);
        Log::EnableConsoleLogging(true);
    }
};

TEST_F(CommandLine, DefaultsAndVerbosity)
{
    const auto defaults = Parse({"tarv"});
    EXPECT_FALSE(defaults.options.usagePrinted);
    EXPECT_EQ(defaults.options.root, "/");
    EXPECT_EQ(defaults.options.logLevel, Log::info);
    EXPECT_TRUE(defaults.options.consoleLogging);

    // Each -v lowers the level once; -q silences the console.
    const auto r = Parse({"tarv", "-v", "--verbose", "-q", "ignored-argument"});
    EXPECT_EQ(r.options.logLevel, Log::trace);
    EXPECT_EQ(Log::GetLogLevel(), Log::trace);
    EXPECT_FALSE(Log::mConsoleLoggingEnabled);
    // Options after a bad one are not processed.
    Log::SetLogLevel(Log::info);
    EXPECT_EQ(Parse({"tarv", "-x", "-v"}).options.logLevel, Log::info);
}

// The real binary: usage on standard output, exit code 1.
struct SRun {
    int exitCode = -1;
    std::string output;
};

SRun RunBinary(const std::string& args)
{
    SRun run;
    const std::string cmd = std::string(TARV_BINARY) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 256> buf{};
    size_t n = 0;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) {
        run.output.append(buf.data(), n);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(ProcessEntry, BinaryPrintsUsageAndExitsWithOne)
{
    const std::string program = TARV_BINARY;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"-h", "/"}, {"-r /some/dir/ -h", "/some/dir/"}, {"-h -r /x", "/"}, {"-r", "/"}, {"--unknown", "/"}};
    for (const auto& [args, root] : cases) {
        const SRun run = RunBinary(args);
        EXPECT_EQ(run.exitCode, 1) << args;
        EXPECT_EQ(run.output, ExpectedUsage(program, root)) << args;
    }
}

TEST(ProcessEntry, RpcLoggerWritesEachLevelWithItsPrefix)
{
    TestSupport::CLogCapture capture;
    Rpc::QeLogger logger;
    Rpc::ILogger& base = logger;
    base.Critical("c");
    base.Error("e");
    base.Warning("w");
    base.Info("i");
    base.Debug("d");
    base.Trace("t");
    std::vector<std::pair<Log::ELogLevel, std::string>> lines;
    for (const auto& line : capture.Lines()) {
        lines.emplace_back(line.level, line.text);
    }
    EXPECT_EQ(lines, (std::vector<std::pair<Log::ELogLevel, std::string>>{
                         {Log::critical, "[RPC] c"}, {Log::error, "[RPC] e"}, {Log::warning, "[RPC] w"},
                         {Log::info, "[RPC] i"}, {Log::debug, "[RPC] d"}, {Log::trace, "[RPC] t"}}));
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
    EXPECT_DEATH(
        {
            LogToStderr();
            std::thread([] { throw SNotAnException{}; }).join();
        },
        "Uncaught exception of unknown type\\.[^\n]*\n.*Aborting process\\.");
    EXPECT_DEATH(
        {
            LogToStderr();
            std::thread([] { throw std::out_of_range("index 7"); }).join();
        },
        "Uncaught exception of type 'std::out_of_range' with message: 'index 7'");
}

} // namespace
