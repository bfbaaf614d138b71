#include "platform/toolbox/fsutils.h"

#include "tests/support/process.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <tuple>

namespace {

using namespace std::chrono_literals;

TEST(FsUtilsRunSystemCmd, ExitStatusAndOutput)
{
    // Block SIGTERM and ignore SIGUSR1 here, as a daemon's threads may do:
    // the command starts with default signal handling all the same.
    sigset_t block, previousMask;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &previousMask), 0);
    const auto previousUsr1 = std::signal(SIGUSR1, SIG_IGN);
    // A descriptor this process opened close-on-exec must not reach the command.
    TestSupport::CTempDir dir;
    dir.WriteFile("marker", "x");
    const int fd = ::open((dir.Path() + "/marker").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    const std::vector<std::tuple<std::string, int, std::string>> cases = { // command, status, output
        {"printf 'one\\ntwo\\n\\n'", 0, "one\ntwo\n"}, // only the last newline is removed
        {"echo partial; exit 3", 3, "partial"},
        // Shell syntax works, standard error is collected with standard output.
        {"echo out; echo err >&2; echo a | tr a b", 0, "out\nerr\nb"},
        {"exec 2>/dev/null; /no/such/program", 127, ""},
        {"echo before; kill -KILL $$", -1, "before"},
        // cat would block forever on an inherited terminal or pipe.
        {"cat", 0, ""},
        {"kill -TERM $$; echo survived", -1, ""},
        {"kill -USR1 $$; echo survived", -1, ""},
        {"ls -l /proc/self/fd/ 2>/dev/null | grep -c " + dir.Path(), 1, "0"},
        // 2 MiB of output: capped, and the command does not stall on a full pipe.
        {"head -c 2097152 /dev/zero", 0, std::string(CFsUtils::kMaxOutputBytes, '\0')},
    };
    for (const auto& [command, status, expected] : cases) {
        SCOPED_TRACE(command);
        std::string output = "stale";
        EXPECT_EQ(CFsUtils::RunSystemCmd(command, output), status);
        EXPECT_EQ(output, expected);
    }
    ::close(fd);
    std::signal(SIGUSR1, previousUsr1);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

TEST(FsUtilsRunSystemCmd, BackgroundChildrenDoNotHoldTheRunButADeadlineStopsTheGroup)
{
    // Each command leaves a child that keeps the output pipe open (one of
    // them writing to it all the time) and prints its process group.
    const std::vector<std::string> commands = {
        "sleep 20 & echo group $$",
        "(while true; do echo x; sleep 0.005; done) & echo group $$",
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command);
        std::string output;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(CFsUtils::RunSystemCmd(command, output), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        // Leave nothing behind: end the group the shell printed.
        const auto at = output.find("group ");
        ASSERT_NE(at, std::string::npos);
        const pid_t group = static_cast<pid_t>(std::stol(output.substr(at + 6)));
        ASSERT_GT(group, 1);
        ::kill(-group, SIGKILL);
    }

    // Past its deadline the command is stopped with its process group.
    std::string output;
    // The background sleep ignores SIGTERM: it would outlive a shell that was killed alone.
    EXPECT_EQ(CFsUtils::RunSystemCmd("trap '' TERM; sleep 30 & echo $!; wait", output, 200ms), -1);
    // SIGKILL has been sent: the process is gone or a zombie within a generous bound.
    const pid_t sleeper = std::stoi(output);
    EXPECT_TRUE(TestSupport::PollUntil([&] { return TestSupport::ProcessEnded(sleeper); }, 20s)) << sleeper;
}

} // namespace
