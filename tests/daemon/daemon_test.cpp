#include "tests/ipc/ipctesthost.h"
#include "tests/support/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

using IpcTest::CRunningHost;
using TestSupport::PollUntil;
using testing::AllOf;
using testing::EndsWith;
using testing::HasSubstr;
using namespace std::chrono_literals;

constexpr int kAlive = IpcTest::CStates::kAlive;

// A child process with its standard output and error in a file.
class CChild {
public:
    // fork and exec rather than posix_spawn: the sanitizers follow a fork,
    // not the shared-memory child of posix_spawn.
    CChild(const std::vector<std::string>& arguments, const std::string& outputPath)
    {
        std::vector<char*> argv;
        for (const auto& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (output < 0) {
            throw std::runtime_error("cannot open " + outputPath);
        }
        mPid = fork();
        if (mPid == 0) {
            // Only async-signal-safe calls until exec.
            dup2(output, 1);
            dup2(output, 2);
            execve(argv[0], argv.data(), environ);
            _exit(127);
        }
        close(output);
        if (mPid < 0) {
            throw std::runtime_error("cannot start " + arguments[0]);
        }
    }
    ~CChild()
    {
        if (mPid > 0 && !mReaped) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }

    // The wait status once the process ended, bounded in time.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout)
    {
        int status = 0;
        const bool ended = PollUntil([&] { return waitpid(mPid, &status, WNOHANG) == mPid; }, timeout);
        mReaped = mReaped || ended;
        return ended ? std::optional<int>(status) : std::nullopt;
    }
    // Sends SIGINT: whether the process then ends with status 0 within 10 s
    // (a wait status of 0 is an exit with 0).
    bool StopsCleanly()
    {
        kill(mPid, SIGINT);
        return WaitExit(10s).value_or(-1) == 0;
    }

private:
    pid_t mPid = -1;
    bool mReaped = false;
};

std::string Read(const std::string& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class Daemon : public testing::Test {
protected:
    Daemon() { IpcTest::WriteConfiguration(mRoot); }

    // On a station with WLAN hardware, in namespaces of its own.
    std::unique_ptr<CChild> StartDaemon(const TestSupport::CTempDir& root)
    {
        return std::make_unique<CChild>(std::vector<std::string>{STATION_SANDBOX, TARV_BINARY, "-r", root.Root()},
                                        root.Root() + "tarv.log");
    }
    // The daemon with a client subscribed to its process control.
    std::unique_ptr<CChild> StartSubscribed()
    {
        auto daemon = StartDaemon(mRoot);
        mClient = std::make_unique<CRunningHost>(mRoot);
        mControlClient = mClient->Get()->CreateClient("TarvGenCtrl", mStates);
        mClient->Start();
        EXPECT_TRUE(mControlClient->WaitSubscribed(10s)) << Log();
        mControl = mControlClient->GetInterface();
        return daemon;
    }
    std::string Log() const { return Read(mRoot.Root() + "tarv.log"); }
    // Exit status and combined output of one tarvctl run.
    std::pair<int, std::string> Tarvctl(std::vector<std::string> arguments)
    {
        const std::string output = mRoot.Root() + "tarvctl" + std::to_string(++mTarvctlRuns) + ".log";
        arguments.insert(arguments.begin(), {TARVCTL_BINARY, "--root", mRoot.Root()});
        const auto status = CChild(arguments, output).WaitExit(20s);
        return std::make_pair(status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1, Read(output));
    }

    TestSupport::CTempRoot mRoot;
    int mTarvctlRuns = 0;
    std::unique_ptr<CRunningHost> mClient;
    std::shared_ptr<IpcTest::CStates> mStates = std::make_shared<IpcTest::CStates>();
    std::shared_ptr<IClient<IGenericControl>> mControlClient;
    std::shared_ptr<IGenericControl> mControl;
};

TEST_F(Daemon, MainsLostLeavesTheModemAloneWhenLteIsNotInUse)
{
    mRoot.WriteFile("etc/config/network.json", R"({"TarvLteEnable": true})");
    auto subscribers = std::make_shared<IpcTest::CSubscribers>();
    CRunningHost board(mRoot, subscribers);
    auto controller = std::make_shared<IpcTest::CBoardController>();
    board.Get()->AddService<IBoardControl>("BoardControl", controller);
    board.Start();
    auto daemon = StartDaemon(mRoot);
    ASSERT_TRUE(subscribers->WaitFor("BoardControl", 1));
    controller->mMainsLostSender();
    // The fast shutdown would run through the LTE handler's stand-in, which says so.
    PollUntil([&] { return Log().find("FastShutdown") != std::string::npos; }, 500ms);
    EXPECT_THAT(Log(), testing::Not(HasSubstr("Mainslost, LTE modem fast shutdown."))) << Log();
    EXPECT_TRUE(daemon->StopsCleanly()) << Log();
}

TEST_F(Daemon, AMissingIpcConfigurationEndsItWithTheReasonInTheLog)
{
    std::filesystem::remove(mRoot.Root() + "etc/iipc.json");
    EXPECT_NE(StartDaemon(mRoot)->WaitExit(10s).value_or(0), 0) << "still running, or ended with status 0";
    EXPECT_THAT(Log(), HasSubstr("IPC configuration file '" + mRoot.Root() + "etc/iipc.json' cannot be read"));
}

// A hardware description that cannot be read, or holds a mistyped flag, is a
// configuration error: the daemon serves, reports FatalError and stops in order.
TEST_F(Daemon, AnUnusableHardwareDescriptionAtStartIsServedAsFatalError)
{
    for (const char* hwinfo : {R"({"HwHasWlan": tru)", R"({"HwHasWlan": "yes", "HwHasLte": true})"}) {
        mRoot.WriteFile("etc/config/hwinfo.json", hwinfo);
        auto daemon = StartSubscribed();
        // The state is asked for: its notification may precede the subscription.
        EXPECT_TRUE(PollUntil([&] { return mControl->GetState().state() == ipc::MState::FatalError; }, 10s))
            << hwinfo << Log();
        EXPECT_TRUE(daemon->StopsCleanly()) << hwinfo << Log();
        mControlClient.reset();
        mClient.reset();
    }
}

TEST_F(Daemon, TarvctlWithoutTheDaemonFailsInOneLine)
{
    EXPECT_THAT(Tarvctl({"state"}),
                testing::Pair(testing::Ne(0), testing::MatchesRegex("[^\n]*not reachable[^\n]*\n")));
}

TEST_F(Daemon, ServesItsLifecycleAndTarvctlThenStopsOnSigint)
{
    auto daemon = StartSubscribed();
    // A request is answered once accepted, before its transition ends: the
    // next one waits for the state it needs, as the board controller does.
    ASSERT_EQ(mControl->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(mStates->WaitForLast(ipc::MState::Disabled)) << Log();
    // Not enabled: every network service request is refused.
    auto tarv = mClient->Get()->CreateClient<ITarv>("Tarv")->GetInterface();
    EXPECT_FALSE(tarv->ScanWlan().success());
    EXPECT_FALSE(tarv->Validate());
    EXPECT_FALSE(tarv->TriggerNotification(ipc::MNetInterfaces()));
    ASSERT_EQ(mControl->Enable().result(), ipc::MResult::Ok);
    // The state notifications follow the requests; alive ticks start once enabled.
    ASSERT_TRUE(mStates->WaitUntil([](const auto& values) { return std::ranges::count(values, kAlive) > 0; })) << Log();
    std::vector<int> seen = mStates->Values();
    std::erase(seen, ipc::MState::Uninitialized);
    seen.resize(3); // a missing report shows as 0, no state's number
    EXPECT_THAT(seen, testing::ElementsAre(ipc::MState::Disabled, ipc::MState::Enabled, kAlive));
    // The station has WLAN only: both of its interfaces report, Ethernet is an
    // error. wlan0's connection is unknown (null) until its first poll ran.
    const std::string wlan = R"("connection":"disconnected","gateway":null,"interface":"wlan0")";
    std::pair<int, std::string> result;
    PollUntil([&] { return (result = Tarvctl({"--json", "status"})).second.find(wlan) != std::string::npos; }, 20s);
    EXPECT_THAT(result, testing::Pair(0, HasSubstr(wlan)));
    EXPECT_THAT(Tarvctl({"notify", "eth0", "wlan0"}),
                testing::Pair(1, AllOf(testing::StartsWith("wlan0 disconnected"),
                                       EndsWith("\ntarvctl: some interfaces have no hardware (see tarv's log)\n"))));
    // The secrets of the station's image stay masked in the report.
    EXPECT_THAT(Tarvctl({"--json", "report"}),
                testing::Pair(0, AllOf(HasSubstr(R"("state":"Enabled")"), testing::Not(HasSubstr("commission-me")))));

    EXPECT_TRUE(daemon->StopsCleanly()) << Log();
    for (const char* socket : {"tarvgenctrl.sock", "tarv.sock", "tarvlog.sock"}) {
        EXPECT_FALSE(std::filesystem::exists(mRoot.Root() + "run/iipc/" + socket)) << socket;
    }
}

// The host's pid of the running (not zombie) process whose command line is
// exactly arguments, or -1.
pid_t Running(const std::string& arguments)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string stat = Read(entry.path() / "stat");
        if (Read(entry.path() / "cmdline") == arguments && stat.find(") Z ") == std::string::npos) {
            return static_cast<pid_t>(std::stol(entry.path().filename()));
        }
    }
    return -1;
}

// The sandbox of the daemon's tests and benchmarks: a force stop of the access
// point there (killall -9 hostapd) must not reach the host's hostapd, and
// nothing in it may outlive the sandbox's script, even when that is killed.
TEST(StationSandbox, NeitherSeesNorSignalsTheHostsProcessesAndEndsWithItsScript)
{
    TestSupport::CTempDir root;
    const std::string hostapd = root.Root() + "hostapd";
    std::filesystem::copy_file("/bin/sleep", hostapd);
    CChild host({hostapd, "300"}, root.Root() + "host.log");
    const std::string check = "pidof hostapd; echo pidof $?; killall -9 hostapd 2>/dev/null; echo killall $?";
    CChild checker({STATION_SANDBOX, "/bin/sh", "-c", check, "-r", root.Root()}, root.Root() + "check.log");
    ASSERT_TRUE(checker.WaitExit(20s).has_value());
    EXPECT_EQ(Read(root.Root() + "check.log"), "pidof 1\nkillall 1\n");
    EXPECT_GT(Running(hostapd + '\0' + "300" + '\0'), 0);

    const std::string inner = hostapd + '\0' + "301" + '\0';
    auto sandbox = std::make_unique<CChild>(
        std::vector<std::string> {STATION_SANDBOX, "/bin/sh", "-c", "exec " + hostapd + " 301", "-r", root.Root()},
        root.Root() + "inner.log");
    ASSERT_TRUE(PollUntil([&] { return Running(inner) > 0; }, 10s)) << Read(root.Root() + "inner.log");
    sandbox.reset(); // SIGKILL to the sandbox's script
    EXPECT_TRUE(PollUntil([&] { return Running(inner) < 0; }, 10s));
}

} // namespace
