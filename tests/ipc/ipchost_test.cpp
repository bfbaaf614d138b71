#include "platform/ipc/communicationexception.h"
#include "platform/ipc/diagnosticssignal.h"
#include "platform/ipc/logconfigservice.h"
#include "platform/ipc/requestdeadline.h"
#include "platform/log/log.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <optional>
#include <tuple>

namespace {

using IpcTest::CRecorder;
using IpcTest::CRunningHost;
using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using namespace std::chrono_literals;

// Served process-control object as the daemon's: request handlers and the
// senders the host installs. Enable records its entry, then waits for
// mRelease when that is set and throws when mThrow is.
class CFakeProcessControl : public IServedProcessControl {
public:
    ipc::MResult Enable() override
    {
        mEntered.Add(1);
        if (mRelease.valid()) {
            mRelease.wait();
        }
        if (mThrow) {
            throw std::runtime_error("handler failed");
        }
        return {};
    }
    ipc::MResult Disable() override { return {}; }
    void InstallSenders(SSenders senders) override { mSenders = std::move(senders); }

    SSenders mSenders;
    std::atomic<bool> mThrow{false};
    CRecorder<int> mEntered;
    std::shared_future<void> mRelease;
};

// Client-side listener recording every notification as a number: the state,
// or -1 for an alive tick. It may then wait for mGate or throw.
class CStateRecorder : public IpcTest::CStates {
public:
    void NotifyState(const ipc::MState& state) override
    {
        CStates::NotifyState(state);
        if (mGate.valid()) {
            mGate.wait();
        }
        if (mThrow) {
            throw 42; // not even a std::exception
        }
    }
    std::shared_future<void> mGate;
    bool mThrow = false;
};

ipc::MState State(ipc::MState::EState value)
{
    ipc::MState state;
    state.set_state(value);
    return state;
}

// The network service as the daemon serves it; Validate records the
// deadline it is served under.
class CFakeTarv : public IServedTarv {
public:
    ipc::MScanWlan ScanWlan() override
    {
        ipc::MScanWlan reply;
        reply.add_networks()->set_ssid("station-ü \"quoted\"");
        return reply;
    }
    bool Validate() override
    {
        mDeadline = CRequestDeadline::Current();
        return false;
    }
    bool TriggerNotification(const ipc::MNetInterfaces&) override { return true; }
    void InstallSenders(SSenders senders) override { mSenders = std::move(senders); }

    SSenders mSenders;
    std::atomic<CRequestDeadline::Clock::time_point> mDeadline;
};

class CStatusRecorder : public ITarvClient, public CRecorder<std::string> {
public:
    void NotifyStatus(const ipc::MNetStatus& status) override { Add(status.SerializeAsString()); }
    void NotifyFloat(float value) override { Add("float " + std::to_string(value)); }
};

// The diagnostics collector as a served process sees it.
class CCollector : public IDiagnostics, public CRecorder<CDiagnosticsCommClient::SSample> {
public:
    bool SendSample(const CDiagnosticsCommClient::SSample& sample) override
    {
        Add(sample);
        return true;
    }
};

class IpcHost : public testing::Test {
protected:
    IpcHost()
    {
        mServer.Get()->AddService<IGenericControl>("TarvGenCtrl", mServed);
        mServer.Get()->AddService<ITarv>("Tarv", mTarv);
    }

    // Starts the host with a subscribed process-control client.
    std::shared_ptr<IClient<IGenericControl>> Subscribe(CRunningHost& host, std::shared_ptr<CStateRecorder> listener)
    {
        auto client = host.Get()->CreateClient("TarvGenCtrl", std::move(listener));
        host.Start();
        EXPECT_TRUE(client->WaitSubscribed(5s));
        return client;
    }

    TestSupport::CTempRoot mRoot;
    bool mConfigured = (IpcTest::WriteConfiguration(mRoot), true);
    std::shared_ptr<IpcTest::CSubscribers> mSubscribers = std::make_shared<IpcTest::CSubscribers>();
    CRunningHost mServer{mRoot, mSubscribers};
    std::shared_ptr<CFakeProcessControl> mServed = std::make_shared<CFakeProcessControl>();
    std::shared_ptr<CFakeTarv> mTarv = std::make_shared<CFakeTarv>();
    // A client process of both services, started by the case.
    CRunningHost mClient{mRoot};
    std::shared_ptr<CStatusRecorder> mStatuses = std::make_shared<CStatusRecorder>();
    std::shared_ptr<IClient<ITarv>> mNetwork = mClient.Get()->CreateClient("Tarv", mStatuses);
    std::shared_ptr<IGenericControl> mControl =
        mClient.Get()->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
};

TEST_F(IpcHost, RequestsAndNotificationsKeepEveryField)
{
    mServer.Get()->AddService<Rpc::ILogConfig>("TarvLog", Log::CreateLogConfigService());
    auto collector = std::make_shared<CCollector>();
    mServer.Get()->AddService<IDiagnostics>("Diagnostics", collector);
    mServer.Start();
    CDiagnosticsCommClient::Initialize(mClient.Get());
    auto logConfig = mClient.Get()->CreateClient<Rpc::ILogConfig>("TarvLog")->GetInterface();
    mClient.Start();
    ASSERT_TRUE(mNetwork->WaitSubscribed(5s));

    const ipc::MScanWlan scan = mNetwork->GetInterface()->ScanWlan();
    ASSERT_EQ(scan.networks_size(), 1);
    EXPECT_EQ(scan.networks(0).ssid(), "station-ü \"quoted\"");
    mTarv->mSenders.value(2.5f);
    ASSERT_TRUE(mStatuses->WaitForCount(1));
    EXPECT_THAT(mStatuses->Values(), ElementsAre("float 2.500000"));

    const Log::ELogLevel before = Log::GetLogLevel();
    EXPECT_TRUE(logConfig->SetLogLevel(Log::debug));
    EXPECT_EQ(logConfig->GetLogLevel(), Log::debug);
    EXPECT_FALSE(logConfig->SetLogLevel(6));
    EXPECT_EQ(Log::GetLogLevel(), Log::debug);
    Log::SetLogLevel(before);

    // Diagnostics signals keep their type and timestamp.
    const CSignalDefinition<std::vector<std::int32_t>> temperatures(0x8b, "LTE module temperatures", {}, "°C");
    CDiagnosticsSignal<std::vector<std::int32_t>> signal(&temperatures);
    const auto at = std::chrono::system_clock::time_point(std::chrono::microseconds(1'700'000'000'123'456));
    signal.SetValue({31, -4, 40}, at);
    EXPECT_TRUE(signal.Send());
    ASSERT_TRUE(collector->WaitForCount(1));
    const auto sample = collector->Values()[0];
    EXPECT_EQ(std::tie(sample.identifier, sample.value, sample.timestamp),
              std::make_tuple(0x8bu, CDiagnosticsCommClient::Value(std::vector<std::int32_t>{31, -4, 40}), at));
    CDiagnosticsCommClient::Terminate();
    EXPECT_FALSE(signal.Send());
}

TEST_F(IpcHost, FailuresBecomeCommunicationErrors)
{
    mServer.Start();
    mClient.Start();
    // A throwing handler does not take the server down.
    mServed->mThrow = true;
    EXPECT_THROW(mControl->Enable(), Rpc::CommunicationException);
    mServed->mThrow = false;
    EXPECT_EQ(mControl->Enable().result(), ipc::MResult::Ok);

    mServer.Stop();
    EXPECT_THAT(IpcTest::ErrorOf([&] { mControl->Enable(); }),
                AllOf(HasSubstr("not reachable"), HasSubstr(mRoot.Root() + "run/iipc/tarvgenctrl.sock")));
}

TEST_F(IpcHost, BlockedRequestsStarveNoOtherServiceNorOutliveTheirClient)
{
    std::promise<void> blocking;
    mServed->mRelease = blocking.get_future().share();
    mServer.Start();
    mClient.Start();

    CRecorder<std::string> outcomes; // the error of each call, or "no error"
    std::vector<std::jthread> callers;
    // Destroyed before the callers are joined: however the test ends, the
    // blocked handlers are released first.
    std::promise<void> release = std::move(blocking);
    const auto enable = [&](int calls) {
        for (int i = 0; i < calls; ++i) {
            callers.emplace_back([&] { outcomes.Add(IpcTest::ErrorOf([&] { mControl->Enable(); })); });
        }
    };
    enable(4);
    ASSERT_TRUE(mServed->mEntered.WaitForCount(4));
    {
        // A caller serving a request of its own passes its deadline on.
        const CRequestDeadline::CScope scope(CRequestDeadline::Clock::now() + 200ms);
        EXPECT_THROW(mControl->Enable(), Rpc::CommunicationException);
    }
    // Far more blocked requests than the server has threads.
    enable(44);
    // 2 wait for a turn (1 when the given-up request still holds its place);
    // the others are refused at once.
    ASSERT_TRUE(outcomes.WaitForCount(42, 10s));
    EXPECT_EQ(mControl->GetState().state(), ipc::MState::Invalid);

    // The handler runs under the client's deadline: 30 s, or the earlier one
    // of the request the client serves.
    for (const std::chrono::seconds limit : {30s, 10s}) {
        const auto start = CRequestDeadline::Clock::now();
        std::optional<CRequestDeadline::CScope> scope;
        if (limit < 30s) {
            scope.emplace(start + limit);
        }
        EXPECT_FALSE(mNetwork->GetInterface()->Validate());
        EXPECT_LE(mTarv->mDeadline.load(), start + limit + 2s);
        EXPECT_GE(mTarv->mDeadline.load(), start + limit - 1s);
    }

    release.set_value();
    callers.clear();
    // Every handler call was answered: the request given up by its client
    // never reached the handler.
    const auto values = outcomes.Values();
    EXPECT_EQ(mServed->mEntered.Values().size(), std::count(values.begin(), values.end(), "no error"));
    EXPECT_EQ(values.size(), 48u);
}

TEST_F(IpcHost, NotificationsReachHealthySubscribersInOrderPastBadOnes)
{
    mServer.Start();
    // A subscriber whose listener never returns until released, and one that vanishes.
    std::promise<void> blocking;
    CRunningHost stuckHost(mRoot);
    auto stuck = std::make_shared<CStateRecorder>();
    stuck->mGate = blocking.get_future().share();
    auto stuckClient = Subscribe(stuckHost, stuck);
    auto vanishing = std::make_unique<CRunningHost>(mRoot);
    auto goneClient = Subscribe(*vanishing, std::make_shared<CStateRecorder>());
    // Two subscriptions from one process are two subscribers; the second's listener throws.
    CRunningHost firstHost(mRoot);
    auto first = std::make_shared<CStateRecorder>();
    auto firstClient = Subscribe(firstHost, first);
    auto second = std::make_shared<CStateRecorder>();
    second->mThrow = true;
    auto secondClient = firstHost.Get()->CreateClient("TarvGenCtrl", second);
    // Destroyed before the stuck host is stopped, however the test ends.
    std::promise<void> release = std::move(blocking);
    ASSERT_TRUE(mSubscribers->WaitFor("TarvGenCtrl", 4));
    vanishing.reset();
    goneClient.reset();
    ASSERT_TRUE(mSubscribers->WaitFor("TarvGenCtrl", 3));

    mServed->mSenders.state(State(ipc::MState::Disabled));
    mServed->mSenders.alive();
    // A late subscriber gets only later notifications.
    CRunningHost lateHost(mRoot);
    auto late = std::make_shared<CStateRecorder>();
    auto lateClient = Subscribe(lateHost, late);
    ASSERT_TRUE(mSubscribers->WaitFor("TarvGenCtrl", 4));
    mServed->mSenders.state(State(ipc::MState::Enabled));
    ASSERT_TRUE(late->WaitForCount(1));
    ASSERT_TRUE(first->WaitForCount(3));
    ASSERT_TRUE(second->WaitForCount(3));
    EXPECT_THAT(first->Values(), ElementsAre(2, -1, 3));
    EXPECT_THAT(second->Values(), ElementsAre(2, -1, 3));
    EXPECT_THAT(late->Values(), ElementsAre(3));
    // The stuck one holds the first notification until released.
    ASSERT_TRUE(stuck->WaitForCount(1));
    EXPECT_THAT(stuck->Values(), ElementsAre(ipc::MState::Disabled));

    // Far more notifications than any queue holds; a blocking send would hang here.
    for (int i = 0; i < 5000; ++i) {
        mServed->mSenders.state(State(i % 2 == 0 ? ipc::MState::Disabled : ipc::MState::Enabled));
    }
    mServed->mSenders.state(State(ipc::MState::FatalError));
    // The healthy subscribers get the last notification even if they lost older ones.
    for (const auto& listener : {first, second, late}) {
        EXPECT_TRUE(listener->WaitForLast(ipc::MState::FatalError));
    }
    release.set_value();
}

TEST_F(IpcHost, AnAbsentPeerIsRetriedQuietlyWithoutBlocking)
{
    CRunningHost daemon(mRoot);
    auto board = daemon.Get()->CreateClient<IBoardControl>("BoardControl");
    auto mainsLost = std::make_shared<CRecorder<int>>();
    board->GetInterface()->SetMainsLostHandler([mainsLost] { mainsLost->Add(1); });
    daemon.Start();

    // No board controller yet: requests fail at once, nothing hangs.
    EXPECT_FALSE(board->GetInterface()->RebootRequest());
    EXPECT_FALSE(board->IsSubscribed());

    // The controller's socket is there but the first connection to it fails
    // (a listener that drops it, then a stale socket nobody listens on, as
    // while the controller restarts): the request waits briefly for the
    // controller instead of failing at once.
    {
        std::filesystem::create_directories(mRoot.Root() + "run/iipc");
        const int listener = IpcTest::Socket(mRoot.Root() + "run/iipc/boardcontrol.sock", 4);
        auto answered = std::async(std::launch::async, [&] { return board->GetInterface()->RebootRequest(); });
        pollfd incoming {listener, POLLIN, 0};
        ASSERT_EQ(::poll(&incoming, 1, 5000), 1);
        ::close(::accept(listener, nullptr, nullptr));
        ::close(listener);
        CRunningHost controllerHost(mRoot);
        controllerHost.Get()->AddService<IBoardControl>("BoardControl", std::make_shared<IpcTest::CBoardController>());
        controllerHost.Start();
        EXPECT_TRUE(answered.get());
    }

    for (int run = 1; run <= 2; ++run) {
        // The controller starts, and then restarts: the subscription comes back by itself.
        auto subscribers = std::make_shared<IpcTest::CSubscribers>();
        CRunningHost controllerHost(mRoot, subscribers);
        auto controller = std::make_shared<IpcTest::CBoardController>();
        controllerHost.Get()->AddService<IBoardControl>("BoardControl", controller);
        controllerHost.Start();
        ASSERT_TRUE(subscribers->WaitFor("BoardControl", 1));
        EXPECT_TRUE(board->GetInterface()->RebootRequest());
        controller->mMainsLostSender();
        EXPECT_TRUE(mainsLost->WaitForCount(run));
    }
}

// Any local process may hold every subscription of a service: a controller
// that subscribes afterwards (after its restart, say) still gets in, and
// hears the state.
TEST_F(IpcHost, AFullServiceMakesRoomForANewSubscriber)
{
    mServer.Start();
    CRunningHost hog(mRoot);
    std::vector<std::shared_ptr<IClient<IGenericControl>>> held;
    for (int i = 0; i < 64; ++i) {
        held.push_back(hog.Get()->CreateClient("TarvGenCtrl", std::make_shared<CStateRecorder>()));
    }
    hog.Start();
    ASSERT_TRUE(mSubscribers->WaitFor("TarvGenCtrl", 64));

    auto states = std::make_shared<CStateRecorder>();
    auto controller = mClient.Get()->CreateClient("TarvGenCtrl", states);
    mClient.Start();
    ASSERT_TRUE(controller->WaitSubscribed(5s));
    mServed->mSenders.state(State(ipc::MState::Enabled));
    EXPECT_TRUE(states->WaitUntil([](const std::vector<int>& values) {
        return std::ranges::count(values, static_cast<int>(ipc::MState::Enabled)) > 0;
    }));
    hog.Stop();
}

TEST_F(IpcHost, SocketFilesGetTheirModeAndGroupAndGoAtStop)
{
    mRoot.WriteFile("etc/iipc.json", R"({"Tarv": "unix:/run/iipc/tarv.sock", "socketGroup": "daemon"})");
    const gid_t group = ::getgrnam("daemon")->gr_gid;
    const std::string path = mRoot.Root() + "run/iipc/tarv.sock";
    // An existing directory anyone may write to is set as a new one.
    std::filesystem::create_directories(mRoot.Root() + "run/iipc");
    ::chmod((mRoot.Root() + "run/iipc").c_str(), 0777);
    CRunningHost host(mRoot);
    host.Get()->AddService<ITarv>("Tarv", std::make_shared<CFakeTarv>());
    host.Start();
    struct stat info {};
    for (const auto& [file, mode] : {std::pair{path, 0140660u}, std::pair{mRoot.Root() + "run/iipc", 040750u}}) {
        ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
        EXPECT_EQ(info.st_mode, mode) << file;
        EXPECT_EQ(info.st_gid, group) << file;
    }
    // Only the socket is left in the directory (no staging directory).
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mRoot.Root() + "run/iipc"), {}), 1);

    // A second host on the same socket is refused; the first keeps its socket.
    {
        CRunningHost second(mRoot);
        second.Get()->AddService<ITarv>("Tarv", std::make_shared<CFakeTarv>());
        EXPECT_THROW(second.Get()->StartServices(), std::runtime_error);
    }
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    host.Stop();
    EXPECT_NE(::stat(path.c_str(), &info), 0);
}

TEST_F(IpcHost, TwoServicesOnOneSocketAreRefused)
{
    mRoot.WriteFile("etc/iipc.json", R"({"Tarv": "unix:/run/iipc/a.sock", "TarvLog": "unix:/run/iipc/a.sock"})");
    CRunningHost shared(mRoot);
    shared.Get()->AddService<ITarv>("Tarv", std::make_shared<CFakeTarv>());
    const auto add = [&] { shared.Get()->AddService<Rpc::ILogConfig>("TarvLog", Log::CreateLogConfigService()); };
    EXPECT_THAT(IpcTest::ErrorOf(add), AllOf(HasSubstr("'Tarv' and 'TarvLog'"), HasSubstr("one socket")));
}

} // namespace
