#include "platform/toolbox/fsutils.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <string>

namespace {

using TestSupport::CLogCapture;
using TestSupport::CTempDir;

TEST(FsUtilsRunSystemCmd, ExitStatusAndOutput)
{
    std::string output = "stale";
    EXPECT_EQ(CFsUtils::RunSystemCmd("true", output), 0);
    EXPECT_EQ(output, "");

    EXPECT_EQ(CFsUtils::RunSystemCmd("printf 'one\\ntwo\\n\\n'", output), 0);
    EXPECT_EQ(output, "one\ntwo\n"); // only the last newline is removed

    EXPECT_EQ(CFsUtils::RunSystemCmd("echo partial; exit 3", output), 3);
    EXPECT_EQ(output, "partial");

    // Shell syntax works, standard error is collected with standard output.
    EXPECT_EQ(CFsUtils::RunSystemCmd("echo out; echo err >&2; echo a | tr a b", output), 0);
    EXPECT_EQ(output, "out\nerr\nb");

    EXPECT_EQ(CFsUtils::RunSystemCmd("/no/such/program", output), 127);
    EXPECT_NE(output.find("/no/such/program"), std::string::npos);
}

TEST(FsUtilsRunSystemCmd, KilledBySignalIsMinusOne)
{
    CLogCapture log;
    std::string output;
    EXPECT_EQ(CFsUtils::RunSystemCmd("echo before; kill -KILL $$", output), -1);
    EXPECT_EQ(output, "before");
    EXPECT_TRUE(log.ContainsSubstring("was ended by signal 9"));
}

TEST(FsUtilsRunSystemCmd, CommandStartsWithDefaultSignalHandling)
{
    // Block SIGTERM and ignore SIGUSR1 here, as a daemon's threads may do.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigset_t previousMask;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &previousMask), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousAction {};
    ASSERT_EQ(sigaction(SIGUSR1, &ignore, &previousAction), 0);

    std::string output;
    const int term = CFsUtils::RunSystemCmd("kill -TERM $$; echo survived", output);
    const int usr1 = CFsUtils::RunSystemCmd("kill -USR1 $$; echo survived", output);

    sigaction(SIGUSR1, &previousAction, nullptr);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    EXPECT_EQ(term, -1);
    EXPECT_EQ(usr1, -1);
}

TEST(FsUtilsRunSystemCmd, StdinIsNotInheritedAndDescriptorsDoNotLeak)
{
    std::string output;
    // cat would block forever on an inherited terminal or pipe.
    EXPECT_EQ(CFsUtils::RunSystemCmd("cat", output), 0);
    EXPECT_EQ(output, "");

    // A descriptor this process opened close-on-exec must not reach the child.
    CTempDir dir;
    dir.WriteFile("marker", "x");
    const int fd = ::open((dir.Path() + "/marker").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(CFsUtils::RunSystemCmd("ls -l /proc/self/fd/ 2>/dev/null", output), 0);
    EXPECT_EQ(output.find(dir.Path()), std::string::npos) << output;
    ::close(fd);
}

TEST(FsUtilsRunSystemCmd, BackgroundChildHoldingThePipeDoesNotBlock)
{
    std::string output;
    // The background sleep keeps the output pipe open long after the shell
    // has exited; the call returns with the shell's status and output.
    EXPECT_EQ(CFsUtils::RunSystemCmd("sleep 20 & echo $!; exit 0", output), 0);
    // Leave no sleeping process behind: end it by the id the shell printed.
    const pid_t sleeper = static_cast<pid_t>(std::stol(output));
    ASSERT_GT(sleeper, 1);
    ::kill(sleeper, SIGTERM);
}

TEST(FsUtilsRunSystemCmd, LargeOutputIsCappedAndDrained)
{
    CLogCapture log;
    std::string output;
    // 2 MiB of output: the command must not stall on a full pipe.
    EXPECT_EQ(CFsUtils::RunSystemCmd("head -c 2097152 /dev/zero", output), 0);
    EXPECT_EQ(output.size(), CFsUtils::kMaxOutputBytes);
    EXPECT_TRUE(log.ContainsSubstring("bytes dropped"));
}

} // namespace
