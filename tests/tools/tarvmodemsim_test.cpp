// The standalone program: options, scenario errors, and a clean stop on
// SIGTERM and SIGINT that takes the device link away.

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// tarv-modemsim run by the shell with its output on a pipe; the shell prints
// its process id, then becomes the program.
class CProgram {
public:
    explicit CProgram(const std::string& args)
        : mPipe(::popen(("echo $$; exec '" TARV_MODEMSIM_PROGRAM "' " + args + " 2>&1").c_str(), "r"))
    {
        EXPECT_NE(mPipe, nullptr);
        mPid = std::stoi(ReadUntil("\n"));
        mText.clear();
    }
    ~CProgram()
    {
        if (mPipe != nullptr) {
            ::kill(mPid, SIGKILL);
            Wait();
        }
    }
    CProgram(const CProgram&) = delete;
    CProgram& operator=(const CProgram&) = delete;

    // The output up to the first line containing text (or its end).
    std::string ReadUntil(const std::string& text)
    {
        char line[512];
        while (mText.find(text) == std::string::npos && std::fgets(line, sizeof line, mPipe) != nullptr) {
            mText += line;
        }
        return mText;
    }

    void Signal(int sig) const { ::kill(mPid, sig); }

    // Exit code, or 128 + signal; the output is read to its end first, so
    // that the program never writes into a closed pipe.
    int Wait()
    {
        ReadUntil(std::string(1, '\0'));
        const int status = ::pclose(mPipe);
        mPipe = nullptr;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    FILE* mPipe;
    pid_t mPid = -1;
    std::string mText;
};

const std::string kDefault = std::string(TARV_MODEMSIM_SCENARIOS) + "/default.json";

TEST(TarvModemsim, RefusesBadOptionsAndScenarios)
{
    TestSupport::CTempDir dir;
    dir.WriteFile("bad.json", R"({"sim": {"pin": "12"}})");
    const std::string root = "--root " + dir.Path();
    const struct {
        std::string args;
        int code;
        const char* message;
    } cases[] = {
        {root, 2, "--root and --scenario are required"},
        {root + " --scenario " + kDefault + " --time-scale 0", 2, "--time-scale"},
        {root + " --bogus 1", 2, "unknown option --bogus"},
        {root + " --scenario " + dir.Path() + "/bad.json", 1, "sim.pin: 4 to 8 decimal digits"},
        {root + " --scenario " + dir.Path() + "/none.json", 1, "cannot read"},
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
        CProgram program("--root " + dir.Path() + " --scenario " + kDefault + " --time-scale 0.001");
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
