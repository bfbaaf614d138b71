#include "platform/ipc/communicationexception.h"
#include "platform/ipc/logconfigservice.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>

namespace {

using IpcTest::CRecorder;
using IpcTest::CRunningHost;
using testing::ElementsAre;
using testing::HasSubstr;
using namespace std::chrono_literals;

// Served process-control object as the daemon's: request handlers and the
// senders the host installs.
class CFakeProcessControl : public IGenericControl {
public:
    ipc::MResult Enable() override
    {
        ++mEnables;
        if (mThrow) {
            throw std::runtime_error("handler failed");
        }
        return {};
    }
    ipc::MResult Disable() override
    {
        ipc::MResult result;
        result.set_result(ipc::MResult::Illegal);
        return result;
    }

    std::function<void(const ipc::MState&)> mStateSender;
    std::function<void()> mAliveSender;
    std::atomic<int> mEnables{0};
    std::atomic<bool> mThrow{false};
};

// Client-side listener recording every notification as a number: the state,
// or -1 for an alive tick.
class CStateRecorder : public IProcessControl, public CRecorder<int> {
public:
    void NotifyState(const ipc::MState& state) override { Add(state.state()); }
    void NotifyAlive() override { Add(-1); }
};

ipc::MState State(ipc::MState::EState value)
{
    ipc::MState state;
    state.set_state(value);
    return state;
}

class IpcHost : public testing::Test {
protected:
    IpcHost()
    {
        mServed = std::make_shared<CFakeProcessControl>();
        mServer.Get()->AddService<IGenericControl>("TarvGenCtrl", mServed);
    }
    ~IpcHost() override { CRootDir::Set("/"); }

    std::string SocketPath(const std::string& name) const { return mRoot.Root() + "run/iipc/" + name; }

    // A new client host with a subscribed process-control client.
    std::shared_ptr<IClient<IGenericControl>> Subscribe(CRunningHost& host, std::shared_ptr<CStateRecorder> listener)
    {
        auto client = host.Get()->CreateClient("TarvGenCtrl", std::move(listener));
        host.Start();
        EXPECT_TRUE(client->WaitSubscribed(5s));
        return client;
    }

    TestSupport::CTempDir mRoot;
    bool mConfigured = (IpcTest::WriteConfiguration(mRoot), true);
    CRunningHost mServer{mRoot};
    std::shared_ptr<CFakeProcessControl> mServed;
};

TEST_F(IpcHost, RequestsReachTheServedObjectAndFailuresBecomeCommunicationErrors)
{
    mServer.Start();
    CRunningHost clientHost(mRoot);
    auto control = clientHost.Get()->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
    clientHost.Start();

    EXPECT_EQ(control->Enable().result(), ipc::MResult::Ok);
    EXPECT_EQ(control->Disable().result(), ipc::MResult::Illegal);
    EXPECT_EQ(mServed->mEnables, 1);

    // The state the host answers is the last one sent.
    EXPECT_EQ(control->GetState().state(), ipc::MState::Invalid);
    mServed->mStateSender(State(ipc::MState::Disabled));
    EXPECT_EQ(control->GetState().state(), ipc::MState::Disabled);

    // A throwing handler does not take the server down.
    mServed->mThrow = true;
    EXPECT_THROW(control->Enable(), Rpc::CommunicationException);
    mServed->mThrow = false;
    EXPECT_EQ(control->Enable().result(), ipc::MResult::Ok);

    mServer.Stop();
    try {
        control->Enable();
        FAIL() << "request to a stopped server succeeded";
    } catch (const Rpc::CommunicationException& e) {
        EXPECT_THAT(e.what(), HasSubstr("not reachable"));
        EXPECT_THAT(e.what(), HasSubstr(SocketPath("tarvgenctrl.sock")));
    }
}

TEST_F(IpcHost, NotificationsReachEverySubscriberAndLateSubscribersOnlyLaterOnes)
{
    mServer.Start();
    CRunningHost firstHost(mRoot);
    auto first = std::make_shared<CStateRecorder>();
    auto firstClient = Subscribe(firstHost, first);
    // Two subscriptions from one process are two subscribers as well.
    auto second = std::make_shared<CStateRecorder>();
    auto secondClient = firstHost.Get()->CreateClient("TarvGenCtrl", second);
    ASSERT_TRUE(secondClient->WaitSubscribed(5s));
    ASSERT_TRUE(mServer.Get()->WaitForSubscribers("TarvGenCtrl", 2, 5s));

    mServed->mStateSender(State(ipc::MState::Disabled));
    mServed->mAliveSender();
    ASSERT_TRUE(first->WaitForCount(2));
    ASSERT_TRUE(second->WaitForCount(2));

    CRunningHost lateHost(mRoot);
    auto late = std::make_shared<CStateRecorder>();
    auto lateClient = Subscribe(lateHost, late);
    ASSERT_TRUE(mServer.Get()->WaitForSubscribers("TarvGenCtrl", 3, 5s));
    mServed->mStateSender(State(ipc::MState::Enabled));

    ASSERT_TRUE(first->WaitForCount(3));
    ASSERT_TRUE(second->WaitForCount(3));
    ASSERT_TRUE(late->WaitForCount(1));
    EXPECT_THAT(first->Values(), ElementsAre(2, -1, 3));
    EXPECT_THAT(second->Values(), ElementsAre(2, -1, 3));
    EXPECT_THAT(late->Values(), ElementsAre(3));
}

TEST_F(IpcHost, VanishedOrStuckSubscribersNeverBlockTheSender)
{
    mServer.Start();
    // A subscriber whose listener never returns until released.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    class CStuck : public CStateRecorder {
    public:
        explicit CStuck(std::shared_future<void> gate) : mGate(std::move(gate)) {}
        void NotifyState(const ipc::MState& state) override
        {
            CStateRecorder::NotifyState(state);
            mGate.wait();
        }
        std::shared_future<void> mGate;
    };
    CRunningHost stuckHost(mRoot);
    auto stuck = std::make_shared<CStuck>(released);
    auto stuckClient = Subscribe(stuckHost, stuck);

    auto vanishing = std::make_unique<CRunningHost>(mRoot);
    auto gone = std::make_shared<CStateRecorder>();
    auto goneClient = Subscribe(*vanishing, gone);

    CRunningHost healthyHost(mRoot);
    auto healthy = std::make_shared<CStateRecorder>();
    auto healthyClient = Subscribe(healthyHost, healthy);
    ASSERT_TRUE(mServer.Get()->WaitForSubscribers("TarvGenCtrl", 3, 5s));

    vanishing.reset();
    goneClient.reset();
    // Far more notifications than any queue holds; a blocking send would hang here.
    for (int i = 0; i < 5000; ++i) {
        mServed->mStateSender(State(i % 2 == 0 ? ipc::MState::Disabled : ipc::MState::Enabled));
    }
    mServed->mStateSender(State(ipc::MState::FatalError));
    // The healthy subscriber gets the last notification even if it lost older ones.
    EXPECT_TRUE(healthy->WaitUntil(
        [](const std::vector<int>& values) { return !values.empty() && values.back() == ipc::MState::FatalError; }));
    release.set_value();
    EXPECT_EQ(stuck->Values().front(), ipc::MState::Disabled);
    EXPECT_EQ(mServer.Get()->SubscriberCount("TarvGenCtrl"), 2u);
}

TEST_F(IpcHost, AnAbsentPeerIsRetriedQuietlyWithoutBlocking)
{
    class CBoardController : public IBoardControl {
    public:
        bool RebootRequest() override { return true; }
    };
    CRunningHost daemon(mRoot);
    auto board = daemon.Get()->CreateClient<IBoardControl>("BoardControl");
    auto mainsLost = std::make_shared<CRecorder<int>>();
    board->GetInterface()->SetMainsLostHandler([mainsLost] { mainsLost->Add(1); });
    daemon.Start();

    // No board controller yet: requests fail at once, nothing hangs.
    EXPECT_FALSE(board->GetInterface()->RebootRequest());
    EXPECT_FALSE(board->IsSubscribed());

    CRunningHost controllerHost(mRoot);
    auto controller = std::make_shared<CBoardController>();
    controllerHost.Get()->AddService<IBoardControl>("BoardControl", controller);
    controllerHost.Start();
    ASSERT_TRUE(board->WaitSubscribed(10s));
    EXPECT_TRUE(board->GetInterface()->RebootRequest());
    controller->mMainsLostSender();
    EXPECT_TRUE(mainsLost->WaitForCount(1));

    // The controller restarts: the subscription comes back by itself.
    controllerHost.Stop();
    CRunningHost restartedHost(mRoot);
    auto restarted = std::make_shared<CBoardController>();
    restartedHost.Get()->AddService<IBoardControl>("BoardControl", restarted);
    restartedHost.Start();
    ASSERT_TRUE(restartedHost.Get()->WaitForSubscribers("BoardControl", 1, 10s));
    restarted->mMainsLostSender();
    EXPECT_TRUE(mainsLost->WaitForCount(2));
}

TEST_F(IpcHost, SocketsAreGroupOnlyAndStaleOnesAreReplaced)
{
    // A socket file left by a crashed run: bound, never served.
    const std::string path = SocketPath("tarvgenctrl.sock");
    ::mkdir((mRoot.Root() + "run").c_str(), 0755);
    ::mkdir((mRoot.Root() + "run/iipc").c_str(), 0700);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);

    mServer.Start();
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0660u);

    // A second host on the same socket is refused; the first keeps serving,
    // also after the second one is gone.
    {
        CRunningHost second(mRoot);
        second.Get()->AddService<IGenericControl>("TarvGenCtrl", std::make_shared<CFakeProcessControl>());
        EXPECT_THROW(second.Get()->StartServices(), std::runtime_error);
    }
    EXPECT_EQ(::stat(path.c_str(), &info), 0);

    mServer.Stop();
    EXPECT_NE(::stat(path.c_str(), &info), 0);
}

TEST_F(IpcHost, SocketDirectoryIsCreatedWithMode0750AndOtherFilesAreNotReplaced)
{
    mServer.Start();
    struct stat info {};
    ASSERT_EQ(::stat((mRoot.Root() + "run/iipc").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
    mServer.Stop();

    mRoot.WriteFile("run/iipc/tarv.sock", "not a socket");
    CRunningHost host(mRoot);
    host.Get()->AddService<ITarv>("Tarv", std::shared_ptr<ITarv>());
    try {
        host.Get()->StartServices();
        FAIL() << "a regular file was replaced by a socket";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(e.what(), HasSubstr("is not a socket"));
    }
    EXPECT_EQ(mRoot.ReadFile("run/iipc/tarv.sock"), "not a socket");
}

// The network service as the daemon serves it.
class CFakeTarv : public ITarv {
public:
    ipc::MScanWlan ScanWlan() override
    {
        ipc::MScanWlan reply;
        auto* network = reply.add_networks();
        network->set_ssid("station-ü \"quoted\"");
        network->set_security("wpa2");
        network->set_signallevel(-61);
        network->set_channel(11);
        reply.set_success(true);
        return reply;
    }
    bool Validate() override { return false; }
    bool TriggerNotification(const ipc::MNetInterfaces& interfaces) override
    {
        mRequested.assign(interfaces.interfaces().begin(), interfaces.interfaces().end());
        return true;
    }

    std::function<void(const ipc::MNetStatus&)> mStatusSender;
    std::function<void(float)> mFloatSender;
    std::vector<int> mRequested;
};

class CStatusRecorder : public ITarvClient, public CRecorder<std::string> {
public:
    void NotifyStatus(const ipc::MNetStatus& status) override { Add(status.SerializeAsString()); }
    void NotifyFloat(float value) override { Add("float " + std::to_string(value)); }
};

TEST_F(IpcHost, NetworkServiceRequestsAndStatusNotificationsKeepEveryField)
{
    auto tarv = std::make_shared<CFakeTarv>();
    mServer.Get()->AddService<ITarv>("Tarv", tarv);
    mServer.Start();
    CRunningHost clientHost(mRoot);
    auto statuses = std::make_shared<CStatusRecorder>();
    auto client = clientHost.Get()->CreateClient("Tarv", statuses);
    clientHost.Start();
    ASSERT_TRUE(client->WaitSubscribed(5s));

    const ipc::MScanWlan scan = client->GetInterface()->ScanWlan();
    ASSERT_EQ(scan.networks_size(), 1);
    EXPECT_EQ(scan.networks(0).ssid(), "station-ü \"quoted\"");
    EXPECT_EQ(scan.networks(0).signallevel(), -61);
    EXPECT_TRUE(scan.success());
    EXPECT_FALSE(client->GetInterface()->Validate());
    ipc::MNetInterfaces interfaces;
    interfaces.add_interfaces(ipc::ELte0);
    interfaces.add_interfaces(ipc::EEth0);
    EXPECT_TRUE(client->GetInterface()->TriggerNotification(interfaces));
    EXPECT_THAT(tarv->mRequested, ElementsAre(ipc::ELte0, ipc::EEth0));

    ipc::MNetStatus status;
    status.set_interface(ipc::ELte0);
    status.set_connectionstate(ipc::MNetStatus::EConnected);
    status.set_signalstrength(-71);
    status.mutable_properties()->set_ipaddress("10.64.12.7");
    status.mutable_properties()->set_defaultgateway("0.0.0.0");
    status.mutable_dns()->set_primarydns("192.0.2.53");
    status.mutable_lteinfo()->set_technology("NB-IoT");
    tarv->mStatusSender(status);
    tarv->mFloatSender(2.5f);
    ASSERT_TRUE(statuses->WaitForCount(2));
    EXPECT_EQ(statuses->Values()[0], status.SerializeAsString());
    EXPECT_EQ(statuses->Values()[1], "float 2.500000");
}

TEST_F(IpcHost, LogLevelIsReadAndSetThroughTheLogService)
{
    mServer.Get()->AddService<Rpc::ILogConfig>("TarvLog", Log::CreateLogConfigService());
    mServer.Start();
    CRunningHost clientHost(mRoot);
    auto logConfig = clientHost.Get()->CreateClient<Rpc::ILogConfig>("TarvLog")->GetInterface();
    const Log::ELogLevel before = Log::GetLogLevel();

    EXPECT_TRUE(logConfig->SetLogLevel(Log::debug));
    EXPECT_EQ(Log::GetLogLevel(), Log::debug);
    EXPECT_EQ(logConfig->GetLogLevel(), Log::debug);
    EXPECT_FALSE(logConfig->SetLogLevel(6));
    EXPECT_FALSE(logConfig->SetLogLevel(-1));
    EXPECT_EQ(Log::GetLogLevel(), Log::debug);
    Log::SetLogLevel(before);
}

} // namespace
