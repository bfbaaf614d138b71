// Every (state, event) pair of the lifecycle: which level handles it, the
// exact trace of the dispatch, the actions and callbacks in order, the next
// state and the event posted for the next dispatch.

#include "tests/statemachines/lifecycle/recordinghandler.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using State = CTarvHsm::State;
using Strings = std::vector<std::string>;

struct SEvent {
    std::string name;
    std::function<std::shared_ptr<IHsmEvent>()> make;
};

template <typename E>
SEvent Ev()
{
    return {E::Name(), [] { return std::make_shared<E>(); }};
}

const std::vector<SEvent>& AllEvents()
{
    using namespace TarvHsm;
    static const std::vector<SEvent> events{
        Ev<ExtDisableReq>(),       Ev<ExtEnableReq>(),      Ev<ExtError>(),          Ev<IntAlive>(),
        Ev<IntDisablingDone>(),    Ev<IntEnablingDone>(),   Ev<IntError>(),          Ev<IntFatalError>(),
        Ev<IntInitializingDone>(), Ev<IntTarvEnable>(),     Ev<IntTarvIfInit>(),     Ev<IntNtpInitialized>(),
        Ev<IntRecover>(),          Ev<IntRecoveringDone>(), Ev<IntRecoveryDone>(),   Ev<IntStopWorkerThreadDone>(),
        Ev<IntTerminate>(),        Ev<IntTerminatingDone>()};
    return events;
}

const std::vector<const State*>& AllLeaves()
{
    using namespace TarvHsm;
    static const std::vector<const State*> leaves{
        &Disabled::Instance(),   &Disabling::Instance(),  &Enabled::Instance(),     &Enabling::Instance(),
        &Error::Instance(),      &FatalError::Instance(), &Initializing::Instance(), &Recovering::Instance(),
        &Terminating::Instance(), &Uninitialized::Instance(), &Final::Instance()};
    return leaves;
}

enum class ELevel { Leaf, Composite, None };

struct SExpect {
    ELevel level = ELevel::None;
    std::string to;      // empty: no state change
    Strings calls;       // actions and callbacks, in order
    std::string posted;  // event queued by the dispatch, if any
};

const Strings kErrorEntry{"IntStopWorkerThread", "IntHandleError", "ExtErrorRsp"};

// Leaf rows: (leaf, event) -> expectation.
std::map<std::pair<std::string, std::string>, SExpect> LeafRows()
{
    const auto L = ELevel::Leaf;
    return {
        {{"Uninitialized", "ExtDisableReq"}, {L, "Initializing", {"IntInitializeNetwork", "IntInitializeNtp"}, ""}},
        {{"Initializing", "IntInitializingDone"}, {L, "Disabled", {"ExtDisabledRsp"}, ""}},
        {{"Disabled", "ExtEnableReq"}, {L, "Enabling", {}, "IntEnablingDone"}},
        {{"Disabled", "ExtDisableReq"}, {L, "", {"ExtDisabledRsp"}, ""}},
        {{"Enabling", "IntEnablingDone"}, {L, "Enabled", {"ExtEnabledRsp", "IntStartAliveTimer"}, "IntTarvEnable"}},
        {{"Enabled", "ExtDisableReq"},
         {L, "Disabling", {"IntSetTarvNotEnabled", "IntStopAliveTimer", "IntDisableAll"}, ""}},
        {{"Enabled", "IntTarvEnable"}, {L, "", {"IntSetTarvEnabled"}, ""}},
        {{"Enabled", "IntTarvIfInit"}, {L, "", {"IntEnableNetworks"}, ""}},
        {{"Enabled", "ExtEnableReq"}, {L, "", {"ExtEnabledRsp"}, ""}},
        {{"Disabling", "IntDisablingDone"}, {L, "Disabled", {"ExtDisabledRsp"}, ""}},
        {{"Error", "IntRecover"}, {L, "Recovering", {}, ""}},
        {{"Recovering", "IntRecoveringDone"}, {L, "Disabled", {"ExtDisabledRsp"}, ""}},
        {{"Recovering", "IntRecoveryDone"}, {L, "", {"IntReinitialize"}, ""}},
        {{"FatalError", "IntError"}, {L, "", {"ExtFatalErrorRsp"}, ""}},
        {{"FatalError", "ExtDisableReq"}, {L, "", {"ExtFatalErrorRsp"}, ""}},
        {{"FatalError", "ExtEnableReq"}, {L, "", {"ExtFatalErrorRsp"}, ""}},
        {{"Terminating", "IntTerminatingDone"}, {L, "_Final_Statemachine", {}, ""}},
        {{"Terminating", "IntStopWorkerThreadDone"}, {L, "", {}, "IntTerminatingDone"}},
    };
}

// Composite rows, valid in every leaf that does not handle the event itself.
std::map<std::string, SExpect> CompositeRows(const std::string& leaf)
{
    const auto C = ELevel::Composite;
    const Strings exitActions = leaf == "Enabled" ? Strings{"IntSetTarvNotEnabled", "IntStopAliveTimer"} : Strings{};
    auto withExit = [&](Strings entry) {
        Strings all = exitActions;
        all.insert(all.end(), entry.begin(), entry.end());
        return all;
    };
    return {
        {"IntError", {C, "Error", withExit(kErrorEntry), "IntRecover"}},
        {"IntFatalError", {C, "FatalError", withExit({"ExtFatalErrorRsp"}), ""}},
        {"IntTerminate", {C, "Terminating", withExit({"IntStopWorkerThread"}), ""}},
        {"ExtError", {C, "", {}, "IntError"}},
        {"IntAlive", {C, "", {"ExtSendAlive"}, ""}},
        {"IntNtpInitialized", {C, "", {"IntStartNtpd"}, ""}},
    };
}

SExpect Expected(const std::string& leaf, const std::string& event)
{
    const auto leafRows = LeafRows();
    if (auto it = leafRows.find({leaf, event}); it != leafRows.end()) {
        return it->second;
    }
    const auto compositeRows = CompositeRows(leaf);
    if (auto it = compositeRows.find(event); it != compositeRows.end()) {
        return it->second;
    }
    return {};
}

TEST(TarvHsmTable, EveryStateAndEvent)
{
    std::size_t handled = 0;
    for (const State* leaf : AllLeaves()) {
        for (const SEvent& event : AllEvents()) {
            const std::string from{leaf->GetName()};
            SCOPED_TRACE(from + " + " + event.name);
            const SExpect expect = Expected(from, event.name);

            auto handler = std::make_shared<CRecordingHandler>();
            auto hsm = std::make_shared<CTarvHsm>(handler);
            hsm->SetCurrentState(*leaf); // placed there without running its entry actions
            TestSupport::CLogCapture log;

            auto posted = event.make();
            auto done = posted->GetFuture();
            hsm->PostEvent(posted);
            ASSERT_EQ(hsm->RunUntilIdle(1), 1U);

            Strings trace{"State " + from + ": event recv " + event.name};
            if (expect.level == ELevel::None) {
                trace.push_back("State Statemachine: event unhn " + event.name);
            } else {
                ++handled;
                const std::string by = expect.level == ELevel::Leaf ? from : "Statemachine";
                trace.push_back("State " + by + ": event hndl " + event.name);
                if (!expect.to.empty()) {
                    trace.push_back("State " + from + ": exit");
                    trace.push_back("State " + expect.to + ": entry");
                }
            }
            EXPECT_EQ(log.Texts(), trace);
            EXPECT_EQ(done.get(), expect.level != ELevel::None);
            EXPECT_EQ(handler->mCalls, expect.calls);
            const std::string now{hsm->GetCurrentState()->GetName()};
            EXPECT_EQ(now, expect.to.empty() ? from : expect.to);

            // What the dispatch queued, if anything, is what comes next.
            log.Clear();
            const std::size_t next = hsm->RunUntilIdle(1);
            if (expect.posted.empty()) {
                EXPECT_EQ(next, 0U);
            } else {
                ASSERT_EQ(next, 1U);
                ASSERT_FALSE(log.Texts().empty());
                EXPECT_EQ(log.Texts().front(), "State " + now + ": event recv " + expect.posted);
            }
        }
    }
    // 18 leaf rows, 6 composite rows in each of the 11 leaves minus the IntError that FatalError takes itself.
    EXPECT_EQ(handled, 18U + 6U * 11U - 1U);
}

TEST(TarvHsmTable, TheFinalStateStopsTheMachine)
{
    auto handler = std::make_shared<CRecordingHandler>();
    auto hsm = std::make_shared<CTarvHsm>(handler);
    hsm->SetCurrentState(TarvHsm::Terminating::Instance());
    hsm->PostEvent(std::make_shared<TarvHsm::IntTerminatingDone>());
    auto late = std::make_shared<TarvHsm::ExtEnableReq>();
    auto lateDone = late->GetFuture();
    hsm->PostEvent(late);

    hsm->Run(); // returns: reaching _Final_Statemachine stops the machine
    EXPECT_FALSE(hsm->IsRunning());
    EXPECT_EQ(hsm->GetCurrentState()->GetName(), "_Final_Statemachine");
    EXPECT_EQ(lateDone.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
}

TEST(TarvHsmTable, ResponseCallbacksThatAreNotSetAreSkipped)
{
    auto handler = std::make_shared<CRecordingHandler>();
    handler->ExtDisabledRsp = nullptr;
    handler->ExtUninitializedRsp = nullptr;
    auto hsm = std::make_shared<CTarvHsm>(handler);
    hsm->PostEvent(std::make_shared<TarvHsm::ExtDisableReq>());
    hsm->PostEvent(std::make_shared<TarvHsm::IntInitializingDone>());
    hsm->RunUntilIdle();
    EXPECT_EQ(hsm->GetCurrentState()->GetName(), "Disabled");
    EXPECT_EQ(handler->mCalls, (Strings{"IntInitializeNetwork", "IntInitializeNtp"}));
}

TEST(TarvHsmTable, StateIds)
{
    Strings states;
    for (const State* s : AllLeaves()) {
        states.push_back(std::string(s->GetName()) + "=" + std::to_string(s->GetId()));
    }
    EXPECT_EQ(states, (Strings{"Disabled=1", "Disabling=2", "Enabled=3", "Enabling=4", "Error=5", "FatalError=6",
                               "Initializing=7", "Recovering=8", "Terminating=9", "Uninitialized=10",
                               "_Final_Statemachine=11"}));
}

} // namespace
