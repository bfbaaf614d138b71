// The lifecycle running for real: machine on its own thread, the actions on
// their worker with scripted handlers, requests and notifications through
// the process-control service, time from a manual clock.

#include "platform/ipc/requestdeadline.h"
#include "platform/worker/manualclock.h"
#include "src/components/lifecycle/tarvhsmactionhandler.h"
#include "src/processcontrolservice.h"
#include "statemachines/tarvhsm.h"
#include "statemachines/utils/statemachinesutility.h"
#include "tests/components/lifecycle/fakeconnectionhandler.h"
#include "tests/ipc/ipctesthost.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

// Host name manager whose first calls after the initial one fail, so that
// recovery attempts (each sets the host name again) can be made to fail.
class CHostnames : public IHostnameManager {
public:
    std::optional<std::string> GetHostname() override { return "station"; }
    bool SetHostname(const std::string&) override
    {
        const int call = mCalls++;
        return call == 0 || call > mFailuresAfterFirst;
    }
    // Calls after the initial one: the recovery attempts.
    int Reinitialisations() const { return std::max(0, mCalls.load() - 1); }

    std::atomic<int> mCalls{0};
    std::atomic<int> mFailuresAfterFirst{0};
};

struct Lifecycle : ::testing::Test {
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<HandlerMocks::CFakeConfig> config = std::make_shared<HandlerMocks::CFakeConfig>();
    LifecycleFakes::SFakeStation station{config};
    std::shared_ptr<CHostnames> hostnames = std::make_shared<CHostnames>();
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockRunCommand>> commands =
        std::make_shared<testing::NiceMock<HandlerMocks::MockRunCommand>>();
    std::shared_ptr<CTarvHsmActionHandler> handler = std::make_shared<CTarvHsmActionHandler>(
        config, std::make_shared<LifecycleFakes::CNullClient>(), commands, hostnames,
        std::make_shared<LifecycleFakes::CNoNtp>(), clock);
    std::shared_ptr<CTarvHsm> hsm = std::make_shared<CTarvHsm>(handler);
    std::shared_ptr<CProcessControlService> service = std::make_shared<CProcessControlService>();
    TestSupport::CLogCapture log;

    IpcTest::CRecorder<int> states;
    std::thread runner;

    // A station with WLAN only.
    Lifecycle()
    {
        config->bools[HwHasWlan] = true;
        config->strings = {{Hostname, "station"}, {WlanApMacAddr, "02:00:00:00:00:01"},
                           {WlanStaMacAddr, "02:00:00:00:00:02"}};
        handler->SetHandlers(station.Set());
        ON_CALL(*commands, Run(testing::_, testing::_)).WillByDefault(testing::Return(SCommandResult{0, ""}));
        service->mStateSender = [this](const ipc::MState& state) { states.Add(state.state()); };
        service->mAliveSender = [] {};
        ConnectIProcessControl(handler, service, hsm);
    }

    void Start()
    {
        runner = std::thread([this] { hsm->Run(); });
    }

    ~Lifecycle() override
    {
        if (runner.joinable()) {
            hsm->PostEvent(std::make_shared<TarvHsm::IntTerminate>());
            runner.join();
        }
    }

    // Waits (bounded) until the machine has dispatched everything posted so
    // far, including what the dispatches and the worker's due calls post.
    void Settle()
    {
        for (int round = 0; round < 6; ++round) {
            handler->Sync();
            ASSERT_EQ(PostAndWatch<Probe>(*hsm).wait_for(10s), std::future_status::ready);
        }
    }

    std::string State() const { return std::string(hsm->GetCurrentState()->GetName()); }

    void Advance(IClock::duration d)
    {
        clock->Advance(d);
        Settle();
    }
};

TEST_F(Lifecycle, FailedRecoveriesBackOffAndASuccessResetsTheDelay)
{
    hostnames->mFailuresAfterFirst = 2;
    Start();
    service->Disable();
    ASSERT_TRUE(states.WaitForCount(2, 10s));
    hsm->PostEvent(std::make_shared<TarvHsm::IntError>());
    Settle();
    ASSERT_EQ(State(), "Recovering");

    // Attempts after 5 s, 10 s more and 20 s more; the first two fail.
    const std::vector<std::pair<IClock::duration, int>> steps{{5s, 1}, {9s, 1}, {1s, 2}, {19s, 2}, {1s, 3}};
    for (const auto& [advance, attempts] : steps) {
        Advance(advance);
        EXPECT_EQ(hostnames->Reinitialisations(), attempts);
        EXPECT_EQ(State(), attempts < 3 ? "Recovering" : "Disabled");
    }

    // The next error starts over at 5 s.
    hsm->PostEvent(std::make_shared<TarvHsm::IntError>());
    Settle();
    Advance(5s);
    EXPECT_EQ(hostnames->Reinitialisations(), 4);
    EXPECT_EQ(State(), "Disabled");
}

TEST_F(Lifecycle, ReportsEveryStateAndFatalErrorEndsTheRecoveryRetries)
{
    Start();
    // The enable request is only accepted once Disabled is reached.
    ASSERT_EQ(service->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states.WaitForCount(2, 10s));
    ASSERT_EQ(service->Enable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(states.WaitForCount(3, 10s));
    Settle();
    hsm->PostEvent(std::make_shared<TarvHsm::IntError>());
    Settle();
    ASSERT_EQ(State(), "Recovering");
    hsm->PostEvent(std::make_shared<TarvHsm::IntFatalError>());
    Settle();
    ASSERT_EQ(State(), "FatalError");

    // The retry armed in Error must not go on firing into FatalError.
    log.Clear();
    Advance(10min);
    EXPECT_EQ(hostnames->Reinitialisations(), 0);
    EXPECT_FALSE(log.ContainsSubstring("IntRecoveryDone"));

    EXPECT_EQ(service->Enable().result(), ipc::MResult::Ok); // answered with the fatal-error state
    ASSERT_TRUE(states.WaitForCount(6, 10s));
    EXPECT_THAT(states.Values(), ElementsAre(ipc::MState::Uninitialized, ipc::MState::Disabled, ipc::MState::Enabled,
                                      ipc::MState::Error, ipc::MState::FatalError, ipc::MState::FatalError));
}

TEST_F(Lifecycle, ARequestWhoseClientGaveUpNeverTakesEffect)
{
    {
        // Still queued when its deadline passes: refused, and dropped later.
        CRequestDeadline::CScope expired(CRequestDeadline::Clock::now() - 1ms);
        EXPECT_EQ(service->Disable().result(), ipc::MResult::Illegal);
    }
    Start();
    Settle();
    EXPECT_EQ(State(), "Uninitialized");
    {
        CRequestDeadline::CScope ample(CRequestDeadline::Clock::now() + 1h);
        EXPECT_EQ(service->Disable().result(), ipc::MResult::Ok);
    }
    ASSERT_TRUE(states.WaitForCount(2, 10s));
    EXPECT_EQ(states.Values().back(), ipc::MState::Disabled);
}

TEST_F(Lifecycle, ReportsStopOnceTheServiceIsReleased)
{
    std::weak_ptr<CProcessControlService> gone = service;
    service.reset();
    EXPECT_TRUE(gone.expired()); // the handler's callbacks do not keep it alive
    Start();
    EXPECT_EQ(IDisableCall(*hsm).result(), ipc::MResult::Ok);
    Settle();
    EXPECT_EQ(State(), "Disabled");
}

TEST(BlockingRequests, ARequestThatIsNeverDispatchedFails)
{
    CPostedEvents machine;
    EXPECT_EQ(IEnableCall(machine).result(), ipc::MResult::Illegal);
}

} // namespace
