// The standalone program: options, scenario errors, and a clean stop on
// SIGTERM and SIGINT that takes the device link away.

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// tarv-modemsim with its standard error on a pipe.
class CProgram {
public:
    explicit CProgram(std::vector<std::string> args)
    {
        args.insert(args.begin(), TARV_MODEMSIM_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        EXPECT_EQ(posix_spawn(&mPid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        mErr = fds[0];
    }
    ~CProgram()
    {
        if (mPid > 0) {
            ::kill(mPid, SIGKILL);
            Wait();
        }
        ::close(mErr);
    }
    CProgram(const CProgram&) = delete;
    CProgram& operator=(const CProgram&) = delete;

    // Standard error up to the first line containing text (or its end).
    std::string ReadUntil(const std::string& text)
    {
        char chunk[512];
        pollfd pfd {mErr, POLLIN, 0};
        while (mText.find(text) == std::string::npos && ::poll(&pfd, 1, 10000) > 0) {
            const ssize_t n = ::read(mErr, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            mText.append(chunk, static_cast<std::size_t>(n));
        }
        return mText;
    }

    void Signal(int sig) const { ::kill(mPid, sig); }

    // Exit code, or 128 + signal.
    int Wait()
    {
        int status = 0;
        ::waitpid(mPid, &status, 0);
        mPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t mPid = -1;
    int mErr = -1;
    std::string mText;
};

const std::string kDefault = std::string(TARV_MODEMSIM_SCENARIOS) + "/default.json";

TEST(TarvModemsim, RefusesBadOptionsAndScenarios)
{
    TestSupport::CTempDir dir;
    dir.WriteFile("bad.json", R"({"sim": {"pin": "12"}})");
    const struct {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{}, 2, "--root and --scenario are required"},
        {{"--root", dir.Path()}, 2, "--root and --scenario are required"},
        {{"--root", dir.Path(), "--scenario", kDefault, "--time-scale", "0"}, 2, "--time-scale"},
        {{"--root", dir.Path(), "--bogus", "1"}, 2, "unknown option --bogus"},
        {{"--root", dir.Path(), "--scenario", dir.Path() + "/bad.json"}, 1, "sim.pin: 4 to 8 decimal digits"},
        {{"--root", dir.Path(), "--scenario", dir.Path() + "/none.json"}, 1, "cannot read"},
    };
    for (const auto& c : cases) {
        CProgram program(c.args);
        EXPECT_NE(program.ReadUntil("\n\n").find(c.message), std::string::npos) << c.message;
        EXPECT_EQ(program.Wait(), c.code) << c.message;
    }
}

TEST(TarvModemsim, StopsCleanlyOnSignalsAndRemovesTheDevice)
{
    for (const int sig : {SIGTERM, SIGINT}) {
        TestSupport::CTempDir dir;
        CProgram program({"--root", dir.Path(), "--scenario", kDefault, "--time-scale", "0.001"});
        ASSERT_NE(program.ReadUntil("running").find("running"), std::string::npos);
        const std::string key = dir.Path() + "/sys/class/gpio/gpio74/value";
        std::ofstream(key, std::ios::trunc) << "1";
        std::ofstream(key, std::ios::trunc) << "0";
        ASSERT_NE(program.ReadUntil("APP RDY").find("APP RDY"), std::string::npos);
        EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() + "/dev/ttyATSERIAL2"));
        program.Signal(sig);
        EXPECT_EQ(program.Wait(), 0);
        EXPECT_FALSE(std::filesystem::is_symlink(dir.Path() + "/dev/ttyATSERIAL2"));
    }
}

} // namespace
