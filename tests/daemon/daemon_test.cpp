#include "platform/ipc/communicationexception.h"
#include "platform/rootdir/rootdir.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using IpcTest::CRecorder;
using IpcTest::CRunningHost;
using namespace std::chrono_literals;

constexpr int kAlive = -1;

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

    void Signal(int number) const { kill(mPid, number); }

    // The wait status once the process ended, bounded in time.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mReaped = true;
                return status;
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

private:
    pid_t mPid = -1;
    bool mReaped = false;
};

class CStates : public IProcessControl, public CRecorder<int> {
public:
    void NotifyState(const ipc::MState& state) override { Add(state.state()); }
    void NotifyAlive() override { Add(kAlive); }
};

// Interfaces whose status was notified.
class CStatuses : public ITarvClient, public CRecorder<int> {
public:
    void NotifyStatus(const ipc::MNetStatus& status) override { Add(status.interface()); }
    void NotifyFloat(float) override {}
};

// Whether the last report is the given state.
auto Reached(int state)
{
    return [state](const std::vector<int>& values) { return !values.empty() && values.back() == state; };
}

class Daemon : public testing::Test {
protected:
    Daemon() { IpcTest::WriteConfiguration(mRoot); }
    ~Daemon() override { CRootDir::Set("/"); }

    std::unique_ptr<CChild> StartDaemon()
    {
        // On a station with WLAN hardware, in namespaces of its own.
        return std::make_unique<CChild>(std::vector<std::string>{STATION_SANDBOX, TARV_BINARY, "-r", mRoot.Root()},
                                        LogPath());
    }
    std::string LogPath() const { return mRoot.Root() + "tarv.log"; }
    std::string Log() const
    {
        std::ifstream in(LogPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool Exists(const std::string& relative) const
    {
        struct stat info {};
        return stat((mRoot.Root() + relative).c_str(), &info) == 0;
    }

    TestSupport::CTempDir mRoot;
};

TEST_F(Daemon, IsDrivenThroughItsLifecycleAndStopsInOrderOnSigint)
{
    auto daemon = StartDaemon();
    CRunningHost client(mRoot);
    auto states = std::make_shared<CStates>();
    auto control = client.Get()->CreateClient("TarvGenCtrl", states);
    client.Start();
    ASSERT_TRUE(control->WaitSubscribed(10s)) << Log();
    auto genCtrl = control->GetInterface();

    // Enabling before the first disable (which initialises) is refused. A
    // request is answered once accepted, before its transition ends: the
    // next one waits for the state it needs, as the board controller does.
    EXPECT_EQ(genCtrl->Enable().result(), ipc::MResult::Illegal);
    EXPECT_EQ(genCtrl->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states->WaitUntil(Reached(ipc::MState::Disabled))) << Log();

    // Not enabled: every network service request is refused with its line.
    {
        auto refused = client.Get()->CreateClient<ITarv>("Tarv")->GetInterface();
        EXPECT_FALSE(refused->ScanWlan().success());
        EXPECT_FALSE(refused->Validate());
        EXPECT_FALSE(refused->TriggerNotification(ipc::MNetInterfaces()));
        const std::string log = Log();
        for (const char* line : {"Illegal WLAN scan call: Tarv is not in enabled state",
                                 "Illegal validation call: Tarv is not in enabled state",
                                 "Illegal notification trigger call: Tarv is not in enabled state"}) {
            EXPECT_THAT(log, testing::HasSubstr(line));
        }
    }
    EXPECT_EQ(genCtrl->Enable().result(), ipc::MResult::Ok);

    // The state notifications follow the requests; alive ticks start once enabled.
    ASSERT_TRUE(states->WaitUntil([](const std::vector<int>& values) {
        return std::find(values.begin(), values.end(), kAlive) != values.end();
    }));
    std::vector<int> seen = states->Values();
    seen.erase(std::remove(seen.begin(), seen.end(), ipc::MState::Uninitialized), seen.end());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_THAT(std::vector<int>(seen.begin(), seen.begin() + 3),
                testing::ElementsAre(ipc::MState::Disabled, ipc::MState::Enabled, kAlive));
    EXPECT_EQ(genCtrl->GetState().state(), ipc::MState::Enabled);

    // Enabled: the network service answers. Nothing changed, so validation
    // fails; the station has no Ethernet, so the trigger fails but still
    // notifies the WLAN station's status.
    auto statuses = std::make_shared<CStatuses>();
    auto tarv = client.Get()->CreateClient("Tarv", std::static_pointer_cast<ITarvClient>(statuses))->GetInterface();
    // The service opens once the interfaces are enabled, shortly after the
    // enabled state is reported.
    ipc::MNetInterfaces accessPoint;
    accessPoint.add_interfaces(ipc::EUap0);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!tarv->TriggerNotification(accessPoint) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_FALSE(tarv->Validate());
    ipc::MNetInterfaces interfaces;
    interfaces.add_interfaces(ipc::EEth0);
    interfaces.add_interfaces(ipc::EWlan0);
    EXPECT_FALSE(tarv->TriggerNotification(interfaces));
    EXPECT_TRUE(statuses->WaitUntil([](const std::vector<int>& values) {
        return std::find(values.begin(), values.end(), ipc::EWlan0) != values.end();
    })) << Log();
    EXPECT_FALSE(tarv->ScanWlan().success()); // no WLAN handler in this build
    EXPECT_THAT(Log(), testing::HasSubstr("Nothing has changed but validation call was called"));
    EXPECT_THAT(Log(), testing::HasSubstr("Ethernet interface is not supported"));

    daemon->Signal(SIGINT);
    const auto status = daemon->WaitExit(10s);
    ASSERT_TRUE(status.has_value()) << Log();
    EXPECT_TRUE(WIFEXITED(*status)) << Log();
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    const std::string log = Log();
    for (const char* line : {"Starting state machine", "ITarvControlDisable", "ExtDisabledRsp", "ITarvControlEnable",
                             "ExtEnabledRsp", "State machine stopped"}) {
        EXPECT_THAT(log, testing::HasSubstr(std::string(") ") + line + "\n")) << line;
    }
    for (const char* socket : {"tarvgenctrl.sock", "tarv.sock", "tarvlog.sock"}) {
        EXPECT_FALSE(Exists(std::string("run/iipc/") + socket)) << socket;
    }
}

TEST_F(Daemon, ClientsThatVanishMidRequestDoNotDisturbIt)
{
    auto daemon = StartDaemon();
    CRunningHost client(mRoot);
    auto states = std::make_shared<CStates>();
    auto control = client.Get()->CreateClient("TarvGenCtrl", states);
    client.Start();
    ASSERT_TRUE(control->WaitSubscribed(10s)) << Log();

    // Killed while connecting, while requesting, and while subscribed.
    for (const char* command : {"disable", "watch", "enable", "state"}) {
        CChild tarvctl({TARVCTL_BINARY, "--root", mRoot.Root(), command}, mRoot.Root() + "tarvctl.log");
        tarvctl.Signal(SIGKILL);
        tarvctl.WaitExit(5s);
    }

    auto genCtrl = control->GetInterface();
    EXPECT_EQ(genCtrl->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states->WaitUntil(Reached(ipc::MState::Disabled))) << Log();
    EXPECT_EQ(genCtrl->Enable().result(), ipc::MResult::Ok);
    EXPECT_TRUE(states->WaitUntil([](const std::vector<int>& values) {
        return !values.empty() && values.back() == kAlive;
    }));
    EXPECT_EQ(genCtrl->GetState().state(), ipc::MState::Enabled);
}

TEST_F(Daemon, AConfigurationErrorAtStartLeadsToFatalErrorAfterTheFirstReport)
{
    mRoot.WriteFile("etc/config/settings.json", "{not json");
    auto daemon = StartDaemon();
    CRunningHost client(mRoot);
    auto states = std::make_shared<CStates>();
    auto control = client.Get()->CreateClient("TarvGenCtrl", states);
    client.Start();
    ASSERT_TRUE(control->WaitSubscribed(10s)) << Log();
    // Every request is answered with the fatal-error state.
    EXPECT_EQ(control->GetInterface()->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states->WaitUntil(Reached(ipc::MState::FatalError))) << Log();
    EXPECT_EQ(control->GetInterface()->GetState().state(), ipc::MState::FatalError);
    EXPECT_THAT(Log(), testing::Not(testing::HasSubstr("Initializing system's network")));
    EXPECT_THAT(Log(), testing::HasSubstr("Config error occurred: "));
}

TEST_F(Daemon, MainsLostShutsTheModemDownOnlyWhenLteIsInUse)
{
    class CBoardController : public IBoardControl {
    public:
        bool RebootRequest() override { return true; }
    };
    const std::string kLine = "Mainslost, LTE modem fast shutdown.";
    for (const bool lteInUse : {false, true}) {
        TestSupport::CTempDir root;
        IpcTest::WriteConfiguration(root);
        root.WriteFile("etc/config/hwinfo.json", std::string(R"({"HwHasWlan": true, "WlanApMacAddr": "02:00:00:00:01:01",
            "WlanStaMacAddr": "02:00:00:00:01:02", "HwHasLte": )") + (lteInUse ? "true" : "false") + "}");
        root.WriteFile("etc/config/network.json", R"({"TarvLteEnable": true})");
        auto subscribers = std::make_shared<IpcTest::CSubscribers>();
        CRunningHost board(root, subscribers);
        auto controller = std::make_shared<CBoardController>();
        board.Get()->AddService<IBoardControl>("BoardControl", controller);
        board.Start();
        const std::string logPath = root.Root() + "tarv.log";
        CChild daemon({STATION_SANDBOX, TARV_BINARY, "-r", root.Root()}, logPath);
        ASSERT_TRUE(subscribers->WaitFor("BoardControl", 1));
        controller->mMainsLostSender();
        // The fast shutdown runs through the LTE handler's stand-in, which says so.
        auto read = [&] {
            std::stringstream text;
            text << std::ifstream(logPath).rdbuf();
            return text.str();
        };
        const auto deadline = std::chrono::steady_clock::now() + (lteInUse ? 10s : 500ms);
        while (read().find("FastShutdown") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(read().find(kLine) != std::string::npos, lteInUse) << read();
        daemon.Signal(SIGINT);
        EXPECT_TRUE(daemon.WaitExit(10s).has_value());
    }
}

TEST_F(Daemon, AMissingIpcConfigurationEndsItWithTheReasonInTheLog)
{
    std::remove((mRoot.Root() + "etc/iipc.json").c_str());
    auto daemon = StartDaemon();
    const auto status = daemon->WaitExit(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_THAT(Log(), testing::HasSubstr("IPC configuration file '" + mRoot.Root() + "etc/iipc.json' cannot be read"));
}

TEST_F(Daemon, TarvctlShowsStatusesSetsConfigurationAndMasksSecretsInItsReport)
{
    // Exit status and combined output of one tarvctl run.
    int run = 0;
    auto tarvctl = [&](std::vector<std::string> arguments) {
        const std::string output = mRoot.Root() + "tarvctl" + std::to_string(++run) + ".log";
        arguments.insert(arguments.begin(), {TARVCTL_BINARY, "--root", mRoot.Root()});
        CChild child(arguments, output);
        const auto status = child.WaitExit(20s);
        std::stringstream text;
        text << std::ifstream(output).rdbuf();
        return std::make_pair(status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1, text.str());
    };
    auto daemon = StartDaemon();
    CRunningHost client(mRoot);
    auto states = std::make_shared<CStates>();
    auto control = client.Get()->CreateClient("TarvGenCtrl", states);
    client.Start();
    ASSERT_TRUE(control->WaitSubscribed(10s)) << Log();
    ASSERT_EQ(control->GetInterface()->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states->WaitUntil(Reached(ipc::MState::Disabled))) << Log();
    ASSERT_EQ(control->GetInterface()->Enable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states->WaitUntil([](const std::vector<int>& values) {
        return std::find(values.begin(), values.end(), ipc::MState::Enabled) != values.end();
    })) << Log();

    // The station has WLAN only: both of its interfaces report, Ethernet is an error.
    std::pair<int, std::string> result;
    for (int attempt = 0; attempt < 100; ++attempt) {
        result = tarvctl({"--json", "status"});
        if (result.first == 0) {
            break;
        }
    }
    EXPECT_EQ(result.first, 0);
    EXPECT_THAT(result.second, testing::HasSubstr(R"("connection":"disconnected","gateway":"","interface":"EWlan0")"));
    result = tarvctl({"notify", "eth0", "wlan0"});
    EXPECT_EQ(result.first, 1);
    EXPECT_THAT(result.second, testing::StartsWith("EWlan0 disconnected"));
    EXPECT_THAT(result.second, testing::EndsWith("\ntarvctl: some interfaces have no hardware (see tarv's log)\n"));
    for (const auto& bad : std::vector<std::vector<std::string>>{{"notify", "eth1"},
                                                                 {"config", "set", "hwinfo", "HwHasLte", "true"},
                                                                 {"config", "set", "network", "TarvWlanEnable", "1"},
                                                                 {"config", "get", "network", "NoSuchKey"}}) {
        result = tarvctl(bad);
        EXPECT_EQ(result.first, 1) << bad.back();
        EXPECT_EQ(std::count(result.second.begin(), result.second.end(), '\n'), 1) << result.second;
    }

    // A secret is written for the daemon alone and never shown in the report.
    EXPECT_EQ(tarvctl({"config", "set", "secrets", "WlanStaPassword", "hunter22"}).first, 0);
    EXPECT_EQ(tarvctl({"config", "get", "secrets", "WlanStaPassword"}).second, "hunter22\n");
    struct stat info {};
    ASSERT_EQ(stat((mRoot.Root() + "etc/config/secrets.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    result = tarvctl({"--json", "report"});
    EXPECT_EQ(result.first, 0);
    EXPECT_THAT(result.second, testing::HasSubstr(R"("WlanStaPassword":"********")"));
    EXPECT_THAT(result.second, testing::HasSubstr(R"("state":"Enabled")"));
    EXPECT_THAT(result.second, testing::Not(testing::HasSubstr("hunter22")));
    EXPECT_THAT(result.second, testing::Not(testing::HasSubstr("commission-me")));
}

TEST_F(Daemon, TarvctlReportsAnAbsentDaemonInOneLine)
{
    CChild tarvctl({TARVCTL_BINARY, "--root", mRoot.Root(), "state"}, mRoot.Root() + "tarvctl.log");
    const auto status = tarvctl.WaitExit(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_NE(WEXITSTATUS(*status), 0);
    std::stringstream read;
    read << std::ifstream(mRoot.Root() + "tarvctl.log").rdbuf();
    const std::string text = read.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_THAT(text, testing::HasSubstr("not reachable"));
}

} // namespace
