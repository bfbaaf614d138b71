// The lifecycle running for real: machine on its own thread, placeholder
// actions on their worker, requests and notifications through the
// process-control service, time from a manual clock.

#include "statemachines/tarvhsm.h"
#include "statemachines/tarvhsmplaceholderactionhandler.h"
#include "statemachines/utils/statemachinesutility.h"
#include "platform/worker/manualclock.h"
#include "src/processcontrolservice.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using ::testing::ElementsAre;

namespace {

struct SProbeTag {
    static constexpr std::string_view EventName(unsigned) { return "Probe"; }
};
using Probe = CHsmEvent<SProbeTag, 0>;

// Placeholder whose initialisation waits for the test, and whose recovery
// fails a given number of times.
class CTestActions : public CTarvHsmPlaceholderActionHandler {
public:
    explicit CTestActions(const std::shared_ptr<IClock>& clock)
        : CWorker("testactions", clock), CTarvHsmPlaceholderActionHandler(clock)
    {
    }

    void IntInitializeNetwork() override
    {
        if (mHoldInitialisation) {
            mInitialisationStarted.set_value();
            mReleaseInitialisation.get_future().wait();
        }
        CTarvHsmPlaceholderActionHandler::IntInitializeNetwork();
    }

    void IntReinitialize() override
    {
        ++mReinitialisations;
        if (mRecoveryFailures > 0) {
            --mRecoveryFailures;
            CancelRecovery();
            Post<TarvHsm::IntError>();
            return;
        }
        CTarvHsmPlaceholderActionHandler::IntReinitialize();
    }

    bool mHoldInitialisation = false;
    std::promise<void> mInitialisationStarted;
    std::promise<void> mReleaseInitialisation;
    std::atomic<int> mRecoveryFailures{0};
    std::atomic<int> mReinitialisations{0};
};

struct PlaceholderLifecycle : ::testing::Test {
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CTestActions> handler = std::make_shared<CTestActions>(clock);
    std::shared_ptr<CTarvHsm> hsm = std::make_shared<CTarvHsm>(handler);
    std::shared_ptr<CProcessControlService> service = std::make_shared<CProcessControlService>();
    TestSupport::CLogCapture log;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> states; // guarded by mutex
    std::atomic<int> alive{0};
    std::function<void(int)> beforeStateSent; // set before the machine runs
    std::thread runner;

    PlaceholderLifecycle()
    {
        service->mStateSender = [this](const ipc::MState& state) {
            if (beforeStateSent) {
                beforeStateSent(state.state());
            }
            std::lock_guard lock(mutex);
            states.push_back(state.state());
            changed.notify_all();
        };
        service->mAliveSender = [this] { ++alive; };
        ConnectIProcessControl(handler, service, hsm);
    }

    void Start()
    {
        runner = std::thread([this] { hsm->Run(); });
    }

    ~PlaceholderLifecycle() override
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
            auto probe = std::make_shared<Probe>();
            auto done = probe->GetFuture();
            hsm->PostEvent(probe);
            ASSERT_EQ(done.wait_for(10s), std::future_status::ready);
        }
    }

    // The enable request is only accepted once Disabled is reached.
    void ToEnabled()
    {
        ASSERT_EQ(service->Disable().result(), ipc::MResult::Ok);
        ASSERT_TRUE(WaitForStates(2));
        ASSERT_EQ(service->Enable().result(), ipc::MResult::Ok);
        ASSERT_TRUE(WaitForStates(3));
        Settle();
    }

    std::string State() const { return std::string(hsm->GetCurrentState()->GetName()); }

    std::vector<int> States()
    {
        std::lock_guard lock(mutex);
        return states;
    }

    bool WaitForStates(std::size_t count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return states.size() >= count; });
    }

    // Position of a log line, to check the order of actions.
    std::size_t Position(const std::string& text)
    {
        const auto texts = log.Texts();
        return static_cast<std::size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
    }

    void Advance(IClock::duration d)
    {
        clock->Advance(d);
        Settle();
    }
};

TEST_F(PlaceholderLifecycle, DisableEnableDisableThroughTheService)
{
    Start();
    EXPECT_EQ(service->Enable().result(), ipc::MResult::Illegal); // before the first disable
    EXPECT_EQ(service->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(WaitForStates(2));
    EXPECT_EQ(service->Enable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(WaitForStates(3));
    Settle();
    EXPECT_EQ(State(), "Enabled");
    EXPECT_TRUE(log.Contains("IEnableCall"));
    EXPECT_TRUE(log.Contains("IDisableCall"));
    EXPECT_TRUE(log.Contains("ExtEnabledRsp"));

    // Alive at once, then every 4 s.
    EXPECT_EQ(alive, 1);
    Advance(4s);
    EXPECT_EQ(alive, 2);
    EXPECT_TRUE(log.Contains("ExtSendAlive"));

    EXPECT_EQ(service->Enable().result(), ipc::MResult::Ok); // again: state 3 again
    EXPECT_EQ(service->Disable().result(), ipc::MResult::Ok);
    ASSERT_TRUE(WaitForStates(5));
    Settle();
    EXPECT_EQ(State(), "Disabled");
    Advance(12s);
    EXPECT_EQ(alive, 2); // no alive while disabled
    EXPECT_THAT(States(), ElementsAre(ipc::MState::Uninitialized, ipc::MState::Disabled, ipc::MState::Enabled,
                                      ipc::MState::Enabled, ipc::MState::Disabled));
    EXPECT_TRUE(log.Contains("CTarvHsmPlaceholderActionHandler::IntStartNtpd"));
}

TEST_F(PlaceholderLifecycle, RequestsReturnBeforeTheTransitionHasFinished)
{
    handler->mHoldInitialisation = true;
    std::promise<void> releaseEnabled;
    auto enabledGate = releaseEnabled.get_future().share();
    beforeStateSent = [enabledGate](int state) {
        if (state == ipc::MState::Enabled) {
            enabledGate.wait();
        }
    };
    Start();

    auto disable = std::async(std::launch::async, [&] { return service->Disable(); });
    handler->mInitialisationStarted.get_future().wait();
    // The request is answered while the entry of Initializing is still running.
    ASSERT_EQ(disable.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(disable.get().result(), ipc::MResult::Ok);
    EXPECT_EQ(State(), "Uninitialized"); // the new state is set once its entry actions are done
    handler->mReleaseInitialisation.set_value();
    ASSERT_TRUE(WaitForStates(2));

    auto enable = std::async(std::launch::async, [&] { return service->Enable(); });
    ASSERT_EQ(enable.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(enable.get().result(), ipc::MResult::Ok);
    EXPECT_EQ(States().size(), 2U); // the enabled report is still held back
    releaseEnabled.set_value();
    ASSERT_TRUE(WaitForStates(3));
    EXPECT_EQ(States().back(), ipc::MState::Enabled);
}

TEST_F(PlaceholderLifecycle, ErrorWhileEnabledRecoversToDisabledAfterTheBackoff)
{
    Start();
    ToEnabled();
    log.Clear();

    hsm->PostEvent(std::make_shared<TarvHsm::IntError>());
    Settle();
    EXPECT_EQ(State(), "Recovering");
    const std::string cls = "CTarvHsmPlaceholderActionHandler::";
    const std::vector<std::size_t> order{Position("State Enabled: exit"),
                                         Position(cls + "IntSetTarvNotEnabled"),
                                         Position("State Error: entry"),
                                         Position(cls + "IntStopWorkerThread"),
                                         Position(cls + "IntHandleError"),
                                         Position("ExtErrorRsp"),
                                         Position("State Recovering: entry")};
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_LT(order.back(), log.Texts().size());
    const auto reported = States();
    EXPECT_EQ(std::count(reported.begin(), reported.end(), ipc::MState::Error), 1);

    const int aliveBefore = alive;
    Advance(4s + 999ms);
    EXPECT_EQ(State(), "Recovering");
    EXPECT_EQ(alive, aliveBefore); // the alive timer went with Enabled
    Advance(1ms);
    EXPECT_EQ(State(), "Disabled");
    EXPECT_EQ(handler->mReinitialisations, 1);
    EXPECT_EQ(States().back(), ipc::MState::Disabled);
    // And the daemon can be enabled again.
    EXPECT_EQ(service->Enable().result(), ipc::MResult::Ok);
}

TEST_F(PlaceholderLifecycle, FailedRecoveriesBackOffAndASuccessResetsTheDelay)
{
    handler->mRecoveryFailures = 2;
    Start();
    service->Disable();
    ASSERT_TRUE(WaitForStates(2));
    hsm->PostEvent(std::make_shared<TarvHsm::IntError>());
    Settle();
    ASSERT_EQ(State(), "Recovering");

    Advance(5s); // first attempt fails
    EXPECT_EQ(handler->mReinitialisations, 1);
    EXPECT_EQ(State(), "Recovering");
    Advance(9s);
    EXPECT_EQ(handler->mReinitialisations, 1);
    Advance(1s); // second attempt, 10 s later, fails
    EXPECT_EQ(handler->mReinitialisations, 2);
    Advance(19s);
    EXPECT_EQ(handler->mReinitialisations, 2);
    Advance(1s); // third attempt, 20 s later, succeeds
    EXPECT_EQ(handler->mReinitialisations, 3);
    EXPECT_EQ(State(), "Disabled");

    // The next error starts over at 5 s.
    hsm->PostEvent(std::make_shared<TarvHsm::IntError>());
    Settle();
    Advance(5s);
    EXPECT_EQ(handler->mReinitialisations, 4);
    EXPECT_EQ(State(), "Disabled");
}

TEST_F(PlaceholderLifecycle, InterruptWhileEnabledStopsTheMachineAndTheAliveTimer)
{
    Start();
    ToEnabled();
    hsm->PostEvent(std::make_shared<TarvHsm::IntTerminate>());
    runner.join();
    EXPECT_FALSE(hsm->IsRunning());
    EXPECT_EQ(State(), "_Final_Statemachine");
    const int aliveAtStop = alive;
    clock->Advance(20s);
    handler->Sync();
    EXPECT_EQ(alive, aliveAtStop);
    EXPECT_TRUE(log.Contains("State _Final_Statemachine: entry"));
}

TEST_F(PlaceholderLifecycle, ReportsStopOnceTheServiceIsReleased)
{
    service->mStateSender = nullptr; // would throw if it were still called
    service->mAliveSender = nullptr;
    std::weak_ptr<CProcessControlService> gone = service;
    service.reset();
    EXPECT_TRUE(gone.expired()); // the handler's callbacks do not keep it alive
    Start();
    EXPECT_EQ(IDisableCall(*hsm).result(), ipc::MResult::Ok);
    Settle();
    EXPECT_EQ(State(), "Disabled");
    EXPECT_FALSE(handler->ExtSendAlive); // IntAlive stays a no-op
}

struct CDroppingMachine : IHsmInterface {
    void PostEvent(std::shared_ptr<IHsmEvent>) override {}
    void Run() override {}
    void Stop() override {}
    bool IsRunning() const override { return false; }
};

TEST(BlockingRequests, ARequestThatIsNeverDispatchedFails)
{
    CDroppingMachine machine;
    EXPECT_EQ(IEnableCall(machine).result(), ipc::MResult::Illegal);
    EXPECT_EQ(IDisableCall(machine).result(), ipc::MResult::Illegal);
}

} // namespace
