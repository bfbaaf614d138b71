// Every (state, event) pair of the lifecycle: whether it is handled, the
// actions and callbacks in order, the next state and the event posted for
// the next dispatch. Each leaf is reached from the start through the events
// that lead there, so the paths are checked on the way.

#include "tests/statemachines/recordinghandler.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;
using MakeEvent = std::function<std::shared_ptr<IHsmEvent>()>;

template <typename E>
std::pair<std::string, MakeEvent> Ev()
{
    return {E::Name(), [] { return std::make_shared<E>(); }};
}

using namespace TarvHsm;
const std::map<std::string, MakeEvent> kAllEvents{
    Ev<ExtDisableReq>(),       Ev<ExtEnableReq>(),      Ev<ExtError>(),        Ev<IntAlive>(),
    Ev<IntDisablingDone>(),    Ev<IntEnablingDone>(),   Ev<IntError>(),        Ev<IntFatalError>(),
    Ev<IntInitializingDone>(), Ev<IntTarvEnable>(),     Ev<IntTarvIfInit>(),   Ev<IntNtpInitialized>(),
    Ev<IntRecover>(),          Ev<IntRecoveringDone>(), Ev<IntRecoveryDone>(), Ev<IntStopWorkerThreadDone>(),
    Ev<IntTerminate>(),        Ev<IntTerminatingDone>()};

// The events that lead from the start to each leaf.
const std::map<std::string, Strings> kPaths{
    {"Uninitialized", {}},
    {"Initializing", {"ExtDisableReq"}},
    {"Disabled", {"ExtDisableReq", "IntInitializingDone"}},
    {"Enabling", {"ExtDisableReq", "IntInitializingDone", "ExtEnableReq"}},
    {"Enabled", {"ExtDisableReq", "IntInitializingDone", "ExtEnableReq", "IntEnablingDone"}},
    {"Disabling", {"ExtDisableReq", "IntInitializingDone", "ExtEnableReq", "IntEnablingDone", "ExtDisableReq"}},
    {"Error", {"IntError"}},
    {"Recovering", {"IntError", "IntRecover"}},
    {"FatalError", {"IntFatalError"}},
    {"Terminating", {"IntTerminate"}},
    {"_Final_Statemachine", {"IntTerminate", "IntTerminatingDone"}},
};

struct SExpect {
    std::string to{};     // empty: no state change
    Strings calls{};      // actions and callbacks, in order
    std::string posted{}; // event queued by the dispatch, if any
    bool handled = true;
};

const Strings kErrorEntry{"IntStopWorkerThread", "IntHandleError", "ExtErrorRsp"};

// Leaf rows: (leaf, event) -> expectation.
const std::map<std::pair<std::string, std::string>, SExpect> kLeafRows{
    {{"Uninitialized", "ExtDisableReq"}, {"Initializing", {"IntInitializeNetwork", "IntInitializeNtp"}}},
    {{"Initializing", "IntInitializingDone"}, {"Disabled", {"ExtDisabledRsp"}}},
    {{"Disabled", "ExtEnableReq"}, {"Enabling", {}, "IntEnablingDone"}},
    {{"Disabled", "ExtDisableReq"}, {"", {"ExtDisabledRsp"}}},
    {{"Enabling", "IntEnablingDone"}, {"Enabled", {"IntSetTarvEnabled", "ExtEnabledRsp", "IntStartAliveTimer"}}},
    {{"Enabled", "ExtDisableReq"}, {"Disabling", {"IntSetTarvNotEnabled", "IntStopAliveTimer", "IntDisableAll"}}},
    {{"Enabled", "IntTarvEnable"}, {"", {"IntSetTarvEnabled"}}},
    {{"Enabled", "IntTarvIfInit"}, {"", {"IntEnableNetworks"}}},
    {{"Enabled", "ExtEnableReq"}, {"", {"ExtEnabledRsp"}}},
    {{"Disabling", "IntDisablingDone"}, {"Disabled", {"ExtDisabledRsp"}}},
    {{"Error", "IntRecover"}, {"Recovering", {}}},
    {{"Recovering", "IntRecoveringDone"}, {"Disabled", {"ExtDisabledRsp"}}},
    {{"Recovering", "IntRecoveryDone"}, {"", {"IntReinitialize"}}},
    {{"FatalError", "IntError"}, {"", {"ExtFatalErrorRsp"}}},
    {{"FatalError", "ExtDisableReq"}, {"", {"ExtFatalErrorRsp"}}},
    {{"FatalError", "ExtEnableReq"}, {"", {"ExtFatalErrorRsp"}}},
    {{"Terminating", "IntTerminatingDone"}, {"_Final_Statemachine", {}}},
    {{"Terminating", "IntStopWorkerThreadDone"}, {"", {}, "IntTerminatingDone"}},
};

// Composite rows, valid in every leaf that does not handle the event itself.
SExpect CompositeRow(const std::string& leaf, const std::string& event)
{
    Strings exit = leaf == "Enabled" ? Strings{"IntSetTarvNotEnabled", "IntStopAliveTimer"} : Strings{};
    auto then = [&](const Strings& entry) {
        Strings all = exit;
        all.insert(all.end(), entry.begin(), entry.end());
        return all;
    };
    const std::map<std::string, SExpect> rows{
        {"IntError", {"Error", then(kErrorEntry), "IntRecover"}},
        {"IntFatalError", {"FatalError", then({"IntStopRecovery", "ExtFatalErrorRsp"})}},
        {"IntTerminate", {"Terminating", then({"IntStopWorkerThread"})}},
        {"ExtError", {"", {}, "IntError"}},
        {"IntAlive", {"", {"ExtSendAlive"}}},
        {"IntNtpInitialized", {"", {"IntStartNtpd"}}},
    };
    const auto it = rows.find(event);
    return it == rows.end() ? SExpect{.handled = false} : it->second;
}

TEST(TarvHsmTable, EveryStateAndEvent)
{
    for (const auto& [leaf, path] : kPaths) {
        for (const auto& [name, make] : kAllEvents) {
            SCOPED_TRACE(leaf + " + " + name);
            auto handler = std::make_shared<CRecordingHandler>();
            auto hsm = std::make_shared<CTarvHsm>(handler);
            // What the actions post is recorded instead of queued, so that
            // the leaf is reached with nothing pending.
            CPostedEvents recorder;
            handler->SetHsmInterface(&recorder);
            for (const std::string& step : path) {
                hsm->PostEvent(kAllEvents.at(step)());
            }
            hsm->RunUntilIdle();
            ASSERT_EQ(hsm->GetCurrentState()->GetName(), leaf);
            handler->mCalls.clear();
            recorder.Take();

            const auto row = kLeafRows.find({leaf, name});
            const SExpect expect = row != kLeafRows.end() ? row->second : CompositeRow(leaf, name);
            auto event = make();
            auto done = event->GetFuture();
            hsm->PostEvent(event);
            hsm->RunUntilIdle();
            EXPECT_EQ(done.get(), expect.handled);
            EXPECT_EQ(handler->mCalls, expect.calls);
            EXPECT_EQ(hsm->GetCurrentState()->GetName(), expect.to.empty() ? leaf : expect.to);
            EXPECT_EQ(recorder.Take(), expect.posted.empty() ? Strings{} : Strings{expect.posted});
        }
    }
}

TEST(TarvHsmTable, ResponseCallbacksThatAreNotSetAreSkipped)
{
    auto handler = std::make_shared<CRecordingHandler>();
    handler->ExtDisabledRsp = nullptr;
    handler->ExtUninitializedRsp = nullptr;
    auto hsm = std::make_shared<CTarvHsm>(handler);
    hsm->PostEvent(std::make_shared<ExtDisableReq>());
    hsm->PostEvent(std::make_shared<IntInitializingDone>());
    hsm->RunUntilIdle();
    EXPECT_EQ(hsm->GetCurrentState()->GetName(), "Disabled");
    EXPECT_EQ(handler->mCalls, (Strings{"IntInitializeNetwork", "IntInitializeNtp"}));
}

} // namespace
