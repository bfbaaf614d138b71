#include "src/components/system/runcommand.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <thread>

using TestSupport::CTempDir;

namespace {

// Each run of the command appends one line to a counter file.
class RunCommandTest : public ::testing::Test {
protected:
    std::string Counted(const std::string& command) const
    {
        return "echo run >> " + mTmp.Path() + "/count; " + command;
    }
    long Runs() const
    {
        const std::string text = mTmp.ReadFile("count");
        return std::count(text.begin(), text.end(), '\n');
    }

    CTempDir mTmp;
    CRunCommand mRunner;
};

} // namespace

TEST_F(RunCommandTest, FailingCommandIsStartedRetriesPlusOneTimes)
{
    const SCommandResult result = mRunner.Run(Counted("echo failed; exit 1"), 2);
    EXPECT_EQ(Runs(), 3);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.output, "failed");
}

TEST_F(RunCommandTest, SuccessfulCommandIsStartedOnce)
{
    const SCommandResult result = mRunner.Run(Counted("exit 0"), 5);
    EXPECT_EQ(Runs(), 1);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "");
}

TEST_F(RunCommandTest, StopsAtTheFirstSuccessAndReportsOnlyThatRunsOutput)
{
    // Fails on the first run, succeeds from the second on.
    const std::string command =
        Counted("if [ $(wc -l < " + mTmp.Path() + "/count) -lt 2 ]; then echo first; exit 7; fi; echo second");
    const SCommandResult result = mRunner.Run(command, 4);
    EXPECT_EQ(Runs(), 2);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, "second");
}

TEST_F(RunCommandTest, ZeroRetriesRunsOnceAndKeepsTheExitStatus)
{
    const SCommandResult result = mRunner.Run(Counted("exit 3"), 0);
    EXPECT_EQ(Runs(), 1);
    EXPECT_EQ(result.exitCode, 3);
}

TEST_F(RunCommandTest, OnlyOneTrailingNewlineIsRemoved)
{
    EXPECT_EQ(mRunner.Run("printf 'line\\n\\n'", 0).output, "line\n");
    EXPECT_EQ(mRunner.Run("printf 'a\\nb'", 0).output, "a\nb");
    EXPECT_EQ(mRunner.Run("true", 0).output, "");
}

TEST_F(RunCommandTest, LongOutputIsCollectedWhole)
{
    const SCommandResult result = mRunner.Run("head -c 100000 /dev/zero | tr '\\0' 'x'", 0);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, std::string(100000, 'x'));
}

TEST_F(RunCommandTest, CommandKilledBySignalLeavesMinusOne)
{
    const SCommandResult result = mRunner.Run(Counted("echo partial; kill -9 $$"), 1);
    EXPECT_EQ(Runs(), 2);
    EXPECT_EQ(result.exitCode, -1);
    EXPECT_EQ(result.output, "partial");
}

TEST_F(RunCommandTest, BackgroundProcessHoldingTheOutputDoesNotBlockTheRun)
{
    // The background child keeps standard output open long after the shell exits.
    const SCommandResult result = mRunner.Run("sleep 30 & echo $!", 0);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_FALSE(result.output.empty());
    ::kill(std::stoi(result.output), SIGKILL);
}

TEST_F(RunCommandTest, CommandStartsWithNoBlockedOrIgnoredSignals)
{
    SCommandResult result;
    // A thread that blocks SIGTERM, in a process that ignores SIGPIPE.
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    std::thread runner([&] {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
        // Shell builtins only: the shell reads its own status without forking.
        result = mRunner.Run("while read k v; do case $k in SigBlk:|SigIgn:) echo \"$k\t$v\";; esac; done "
                             "< /proc/$$/status",
                             0);
    });
    runner.join();
    std::signal(SIGPIPE, previous);
    // Masks in hexadecimal, bit n-1 for signal n.
    const std::size_t ignored = result.output.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos);
    EXPECT_EQ(result.output.substr(0, ignored), "SigBlk:\t0000000000000000\n");
    const unsigned long long ignoredMask = std::stoull(result.output.substr(ignored + 8), nullptr, 16);
    EXPECT_EQ(ignoredMask & (1ULL << (SIGPIPE - 1)), 0u);
}
