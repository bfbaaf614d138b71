#include "src/components/system/runcommand.h"

#include "platform/worker/canceltoken.h"
#include "tests/support/logcapture.h"
#include "tests/support/process.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <tuple>

using TestSupport::CLogCapture;
using TestSupport::CTempDir;
using namespace std::chrono_literals;

namespace {

TEST(RunCommand, RetriesDeadlinesAndResults)
{
    // Name, command ("$C" is the counter file, one line per run), retries,
    // deadline, the runs, the exit code and the output.
    const std::vector<std::tuple<const char*, std::string, unsigned, std::chrono::milliseconds, long, int, std::string>>
        cases = {
        {"failure is retried", "echo failed; exit 1", 2, 10s, 3, 1, "failed"},
        {"second run succeeds", "if [ $(wc -l < $C) -lt 2 ]; then echo first; exit 7; fi; echo second", 4, 10s, 2,
         0, "second"},
        {"one newline removed", "printf 'line\\n\\n'", 0, 10s, 1, 0, "line\n"},
        {"stopped at its deadline", "echo slow; sleep 30", 1, 100ms, 2, -1, "slow"},
        {"exit status of the last run", "if [ $(wc -l < $C) -lt 2 ]; then exit 4; fi; sleep 30", 1, 300ms, 2, -1,
         ""},
        {"SIGTERM ignored", "trap '' TERM; sleep 30", 0, 100ms, 1, -1, ""},
        {"killed by a signal: a failure, retried", "echo killed; kill -KILL $$", 1, 10s, 2, -1, "killed"},
    };
    for (const auto& [name, command, retries, deadline, expectedRuns, exitCode, output] : cases) {
        SCOPED_TRACE(name);
        CTempDir tmp;
        CLogCapture log;
        CRunCommand runner(50ms);
        const std::string counter = tmp.Path() + "/count";
        const SCommandResult result =
            runner.RunWithDeadline("C=" + counter + "; echo run >> $C; " + command, retries, deadline);
        const std::string runs = tmp.ReadFile("count");
        EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), expectedRuns);
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.output, output);
        EXPECT_EQ(log.Contains(Log::error, "'C=" + counter + "' did not finish within " +
                                               std::to_string(deadline.count()) + " ms and was stopped"),
                  deadline < 10s);
    }
}

// A lifecycle step cancels the work of the one before: its command stops at
// once, with what it started, and the work starts no further command.
TEST(RunCommand, CancelledWorkStopsItsCommandAndStartsNoOther)
{
    CTempDir tmp;
    CLogCapture log;
    CRunCommand runner(50ms);
    const std::string fifo = tmp.Path() + "/started";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CCancelToken token;
    // Cancels once the command is running (its write to the fifo is read).
    std::thread canceller([&] {
        std::ifstream(fifo).get();
        token.Cancel();
    });
    CCancelToken::CScope scope(token);
    const SCommandResult result = runner.Run("echo up > " + fifo + "; sleep 30 & wait", 3);
    canceller.join();
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(runner.Run("touch " + tmp.Path() + "/late", 0).exitCode, -1);
    EXPECT_TRUE(log.Contains(Log::info, "'echo' stopped: its work was cancelled"));
    EXPECT_TRUE(log.Contains(Log::info, "'touch' not run: its work was cancelled"));
}

// A program that puts its children in a group of their own (ifup does)
// must not leave them running when its command is stopped.
TEST(RunCommand, StoppedCommandEndsTheGroupsItsProgramsMade)
{
    CTempDir tmp;
    CLogCapture log;
    CRunCommand runner(50ms);
    const std::string pidFile = tmp.Path() + "/pid";
    EXPECT_EQ(runner.RunWithDeadline("setsid sleep 30 & echo $! > " + pidFile + "; wait", 0, 300ms).exitCode, -1);
    const pid_t pid = std::stoi(tmp.ReadFile("pid"));
    // Gone or a zombie; the bound only keeps a failing run from hanging.
    const bool ended = TestSupport::PollUntil([&] { return TestSupport::ProcessEnded(pid); }, 10s);
    EXPECT_TRUE(ended);
    if (!ended) {
        ::kill(pid, SIGKILL);
    }
}

} // namespace
