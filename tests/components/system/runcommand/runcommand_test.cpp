#include "src/components/system/runcommand.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using TestSupport::CLogCapture;
using TestSupport::CTempDir;
using namespace std::chrono_literals;

namespace {

struct SRetryCase {
    const char* name;
    std::string command; // "$C" is the counter file, one line per run
    unsigned retries;
    std::chrono::milliseconds deadline;
    long runs;
    int exitCode;
    std::string output;
};

TEST(RunCommand, RetriesDeadlinesAndResults)
{
    const std::vector<SRetryCase> cases = {
        {"failure is retried", "echo failed; exit 1", 2, 10s, 3, 1, "failed"},
        {"success stops at once", "exit 0", 5, 10s, 1, 0, ""},
        {"second run succeeds", "if [ $(wc -l < $C) -lt 2 ]; then echo first; exit 7; fi; echo second", 4, 10s, 2,
         0, "second"},
        {"zero retries", "exit 3", 0, 10s, 1, 3, ""},
        {"one newline removed", "printf 'line\\n\\n'", 0, 10s, 1, 0, "line\n"},
        {"ended by a signal", "echo partial; kill -9 $$", 1, 10s, 2, -1, "partial"},
        {"stopped at its deadline", "echo slow; sleep 30", 1, 100ms, 2, -1, "slow"},
        {"exit status of the last run", "if [ $(wc -l < $C) -lt 2 ]; then exit 4; fi; sleep 30", 1, 300ms, 2, -1,
         ""},
        {"SIGTERM ignored", "trap '' TERM; sleep 30", 0, 100ms, 1, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir tmp;
        CLogCapture log;
        CRunCommand runner(50ms);
        const std::string counter = tmp.Path() + "/count";
        const auto started = std::chrono::steady_clock::now();
        const SCommandResult result =
            runner.RunWithDeadline("C=" + counter + "; echo run >> $C; " + c.command, c.retries, c.deadline);
        const std::string runs = tmp.ReadFile("count");
        EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), c.runs);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.output, c.output);
        // Generous bound: only a run that was never stopped takes this long.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        const bool stopped = c.deadline < 10s;
        EXPECT_EQ(log.ContainsSubstring("did not finish within"), stopped);
    }
}

TEST(RunCommand, DeadlineStopsTheWholeProcessGroupAndNamesOnlyTheProgram)
{
    CTempDir tmp;
    CLogCapture log;
    CRunCommand runner(50ms);
    // The background sleep would outlive a shell that was stopped alone.
    const SCommandResult result =
        runner.RunWithDeadline("sleep 30 & echo $! > " + tmp.Path() + "/pid; wait", 0, 200ms);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_TRUE(log.Contains(Log::error, "'sleep' did not finish within 200 ms and was stopped"));
    std::string pid = tmp.ReadFile("pid");
    pid.pop_back();
    const std::string stat = "/proc/" + pid + "/stat";
    // SIGKILL has been sent: the process is gone or a zombie within a generous bound.
    const auto until = std::chrono::steady_clock::now() + 20s;
    bool gone = false;
    while (!gone && std::chrono::steady_clock::now() < until) {
        std::string text;
        if (FILE* f = std::fopen(stat.c_str(), "r")) {
            char buffer[256] = {};
            text = std::fgets(buffer, sizeof buffer, f) ? buffer : "";
            std::fclose(f);
        }
        gone = text.empty() || text.find(") Z ") != std::string::npos;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(gone);
}

} // namespace
