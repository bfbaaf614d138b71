// Whole lifecycle paths with actions that complete at once, trace line by line.

#include "tests/statemachines/lifecycle/recordinghandler.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

struct TarvHsmPath : ::testing::Test {
    TarvHsmPath() { handler->mComplete = true; }

    template <typename E>
    std::future<bool> Post()
    {
        auto event = std::make_shared<E>();
        auto future = event->GetFuture();
        hsm->PostEvent(event);
        return future;
    }

    std::string State() const { return std::string(hsm->GetCurrentState()->GetName()); }

    // Uninitialized -> Initializing -> Disabled, then forget what happened.
    void ToDisabled()
    {
        Post<TarvHsm::ExtDisableReq>();
        hsm->RunUntilIdle();
        ASSERT_EQ(State(), "Disabled");
        log.Clear();
        handler->mCalls.clear();
    }

    void ToEnabled()
    {
        ToDisabled();
        Post<TarvHsm::ExtEnableReq>();
        hsm->RunUntilIdle();
        ASSERT_EQ(State(), "Enabled");
        log.Clear();
        handler->mCalls.clear();
    }

    std::shared_ptr<CRecordingHandler> handler = std::make_shared<CRecordingHandler>();
    std::shared_ptr<CTarvHsm> hsm = std::make_shared<CTarvHsm>(handler);
    TestSupport::CLogCapture log;
};

TEST_F(TarvHsmPath, StartUpReportsUninitializedBeforeAnyRequest)
{
    auto enable = Post<TarvHsm::ExtEnableReq>();
    hsm->RunUntilIdle();
    EXPECT_THAT(log.Texts(), ElementsAre("State Statemachine: init", "State Uninitialized: entry",
                                         "State Uninitialized: event recv ExtEnableReq",
                                         "State Statemachine: event unhn ExtEnableReq"));
    EXPECT_THAT(handler->mCalls, ElementsAre("ExtUninitializedRsp"));
    // An enable request before the first disable is refused.
    EXPECT_FALSE(enable.get());
    EXPECT_EQ(State(), "Uninitialized");
}

TEST_F(TarvHsmPath, DisableRequestInitialisesAndSettlesInDisabled)
{
    auto disable = Post<TarvHsm::ExtDisableReq>();
    hsm->RunUntilIdle();
    EXPECT_TRUE(disable.get());
    EXPECT_THAT(log.Texts(),
                ElementsAre("State Statemachine: init", "State Uninitialized: entry",
                            "State Uninitialized: event recv ExtDisableReq",
                            "State Uninitialized: event hndl ExtDisableReq", "State Uninitialized: exit",
                            "State Initializing: entry", "State Initializing: event recv IntInitializingDone",
                            "State Initializing: event hndl IntInitializingDone", "State Initializing: exit",
                            "State Disabled: entry", "State Disabled: event recv IntNtpInitialized",
                            "State Statemachine: event hndl IntNtpInitialized"));
    EXPECT_THAT(handler->mCalls, ElementsAre("ExtUninitializedRsp", "IntInitializeNetwork", "IntInitializeNtp",
                                             "ExtDisabledRsp", "IntStartNtpd"));
}

TEST_F(TarvHsmPath, EnableRequestInDisabled)
{
    ToDisabled();
    auto enable = Post<TarvHsm::ExtEnableReq>();
    hsm->RunUntilIdle();
    EXPECT_TRUE(enable.get());
    EXPECT_THAT(log.Texts(),
                ElementsAre("State Disabled: event recv ExtEnableReq", "State Disabled: event hndl ExtEnableReq",
                            "State Disabled: exit", "State Enabling: entry",
                            "State Enabling: event recv IntEnablingDone", "State Enabling: event hndl IntEnablingDone",
                            "State Enabling: exit", "State Enabled: entry",
                            "State Enabled: event recv IntTarvEnable", "State Enabled: event hndl IntTarvEnable",
                            "State Enabled: event recv IntTarvIfInit", "State Enabled: event hndl IntTarvIfInit",
                            // IntEnableNetworks reports done, which Enabled does not expect.
                            "State Enabled: event recv IntEnablingDone",
                            "State Statemachine: event unhn IntEnablingDone"));
    EXPECT_THAT(handler->mCalls,
                ElementsAre("ExtEnabledRsp", "IntStartAliveTimer", "IntSetTarvEnabled", "IntEnableNetworks"));
}

TEST_F(TarvHsmPath, ErrorWhileEnabledStopsTheEnabledStateAndRecovers)
{
    ToEnabled();
    Post<TarvHsm::IntError>();
    hsm->RunUntilIdle();
    EXPECT_THAT(log.Texts(),
                ElementsAre("State Enabled: event recv IntError", "State Statemachine: event hndl IntError",
                            "State Enabled: exit", "State Error: entry",
                            "State Error: event recv IntStopWorkerThreadDone",
                            "State Statemachine: event unhn IntStopWorkerThreadDone",
                            "State Error: event recv IntRecover", "State Error: event hndl IntRecover",
                            "State Error: exit", "State Recovering: entry"));
    EXPECT_THAT(handler->mCalls, ElementsAre("IntSetTarvNotEnabled", "IntStopAliveTimer", "IntStopWorkerThread",
                                             "IntHandleError", "ExtErrorRsp"));

    // Whoever decides that recovery may start posts IntRecoveryDone.
    log.Clear();
    handler->mCalls.clear();
    Post<TarvHsm::IntRecoveryDone>();
    hsm->RunUntilIdle();
    EXPECT_THAT(handler->mCalls, ElementsAre("IntReinitialize", "ExtDisabledRsp"));
    EXPECT_EQ(State(), "Disabled");
}

TEST_F(TarvHsmPath, FailedInitialisationEndsInRecovering)
{
    handler->mFailing = {"IntInitializeNetwork"};
    Post<TarvHsm::ExtDisableReq>();
    hsm->RunUntilIdle();
    // The NTP preparation still reports ready; the composite starts ntpd in Error.
    EXPECT_THAT(handler->mCalls, ElementsAre("ExtUninitializedRsp", "IntInitializeNetwork", "IntInitializeNtp",
                                             "IntStopWorkerThread", "IntHandleError", "ExtErrorRsp",
                                             "IntStartNtpd"));
    EXPECT_EQ(State(), "Recovering");
}

} // namespace
