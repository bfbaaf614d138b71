// The engine against a small machine: two leaves under a named composite.
//
//   First:  EvGo -> Second; EvBurst internal: posts three EvGo, then stops
//           the machine
//   Second: EvGo internal; EvThrow internal, throws

#include "statemachines/hsm.h"
#include "statemachines/hsmactions.h"
#include "statemachines/hsmevent.h"
#include "tests/statemachines/recordinghandler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct STestTag {
    static constexpr std::array<std::string_view, 3> kNames{"EvGo", "EvBurst", "EvThrow"};
    static constexpr std::string_view EventName(unsigned n) { return kNames.at(n); }
};

using EvGo = CHsmEvent<STestTag, 0>;
using EvBurst = CHsmEvent<STestTag, 1>;
using EvThrow = CHsmEvent<STestTag, 2>;

class CTestHandler : public CHsmActionHandlerBase {
public:
    void EnterFirst() { Record("EnterFirst"); if (mThrowOnEnterFirst) throw std::runtime_error("entry failed"); }
    void EnterSecond() { Record("EnterSecond"); }
    void SecondGo() { Record("SecondGo"); }
    void Burst()
    {
        Record("Burst");
        Post<EvGo>();
        Post<EvGo>();
        Post<EvGo>();
        GetHsmInterface()->Stop();
    }
    void Throw() { throw std::runtime_error("action failed"); }

    void Record(const std::string& what) { mCalls.push_back(what); }

    std::vector<std::string> mCalls;
    bool mThrowOnEnterFirst = false;
};

using CTestHsm = CHsm<CTestHandler>;
using TestTop = TopState<CTestHsm>;
using TestComp = CompState<CTestHsm, 0, TestTop>;
using First = LeafState<CTestHsm, 1, TestComp>;
using Second = LeafState<CTestHsm, 2, TestComp>;

template <>
struct SHsmDefinition<CTestHandler> {
    using Initial = First;
};

template <>
struct SHsmStateDef<TestComp> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Machine";
};

template <>
struct SHsmStateDef<First> : SHsmStateDefaults {
    static constexpr std::string_view kName = "First";
    using Entry = HsmActions<HsmCall<&CTestHandler::EnterFirst>>;
    using Reactions = HsmReactions<HsmTransition<EvGo, Second>,
                                   HsmInternal<EvBurst, HsmCall<&CTestHandler::Burst>>>;
};

template <>
struct SHsmStateDef<Second> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Second";
    using Entry = HsmActions<HsmCall<&CTestHandler::EnterSecond>>;
    using Reactions = HsmReactions<HsmInternal<EvGo, HsmCall<&CTestHandler::SecondGo>>,
                                   HsmInternal<EvThrow, HsmCall<&CTestHandler::Throw>>>;
};

using ::testing::ElementsAre;

namespace {

struct HsmEngine : ::testing::Test {
    std::shared_ptr<CTestHandler> handler = std::make_shared<CTestHandler>();
    std::shared_ptr<CTestHsm> hsm = std::make_shared<CTestHsm>(handler);
};

TEST_F(HsmEngine, StopLeavesQueuedEventsUndispatchedUntilTheNextRun)
{
    auto burst = PostAndWatch<EvBurst>(*hsm);
    auto a = PostAndWatch<EvGo>(*hsm);
    PostAndWatch<EvGo>(*hsm);
    PostAndWatch<EvGo>(*hsm);

    hsm->Run(); // Burst posts three more and stops the machine
    EXPECT_TRUE(burst.get());
    EXPECT_THAT(handler->mCalls, ElementsAre("EnterFirst", "Burst"));
    EXPECT_EQ(a.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    // A second run dispatches them.
    EXPECT_EQ(hsm->RunUntilIdle(), 6U);
    EXPECT_TRUE(a.get());
    EXPECT_EQ(std::count(handler->mCalls.begin(), handler->mCalls.end(), "SecondGo"), 5);
}

TEST_F(HsmEngine, EmptyEventsAreRefused)
{
    EXPECT_THROW(hsm->PostEvent(nullptr), std::invalid_argument);
}

TEST_F(HsmEngine, DestroyingTheMachineBreaksTheCompletionOfQueuedEvents)
{
    auto queued = PostAndWatch<EvGo>(*hsm);
    hsm.reset();
    EXPECT_THROW(queued.get(), std::future_error);
    // The handler outlives the machine and no longer reaches it.
    EXPECT_EQ(handler->GetHsmInterface(), nullptr);
    EXPECT_THROW(handler->Post<EvGo>(), std::logic_error);
}

TEST_F(HsmEngine, AnExceptionFromAnActionLeavesRunAndTheQueueSurvives)
{
    PostAndWatch<EvGo>(*hsm);
    auto thrown = PostAndWatch<EvThrow>(*hsm);
    auto after = PostAndWatch<EvGo>(*hsm);
    EXPECT_THROW(hsm->Run(), std::runtime_error);
    EXPECT_FALSE(hsm->IsRunning());
    EXPECT_TRUE(thrown.get()); // accepted before the action ran
    EXPECT_EQ(hsm->RunUntilIdle(), 1U);
    EXPECT_TRUE(after.get());
}

TEST_F(HsmEngine, CompletingTwiceKeepsTheFirstAnswer)
{
    // An event posted twice is completed twice.
    std::shared_ptr<IHsmEvent> event = std::make_shared<EvThrow>();
    auto future = event->GetFuture();
    event->Complete(true);
    event->Complete(false);
    EXPECT_TRUE(future.get());

    // A future taken after the dispatch is ready at once.
    auto late = std::make_shared<EvGo>();
    late->Complete(false);
    EXPECT_FALSE(late->GetFuture().get());

    // Giving up and dispatching exclude each other: whichever comes first wins.
    auto claimed = std::make_shared<EvGo>();
    EXPECT_TRUE(claimed->Claim());
    EXPECT_FALSE(claimed->Abandon());
    auto abandoned = std::make_shared<EvGo>();
    EXPECT_TRUE(abandoned->Abandon());
    EXPECT_FALSE(abandoned->Claim());
}

TEST(HsmEngineDeathTest, AFailingInitialEntryEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto handler = std::make_shared<CTestHandler>();
    handler->mThrowOnEnterFirst = true;
    auto hsm = std::make_shared<CTestHsm>(handler);
    EXPECT_DEATH(hsm->RunUntilIdle(), "");
}

// After the machine's last Run, a request posted into it (an IPC thread
// racing the shutdown) must not stay blocked: the host joins its request
// threads while the machine object is still alive.
TEST_F(HsmEngine, CloseReleasesQueuedAndLaterPostsAsNotHandled)
{
    hsm->RunUntilIdle(); // initial entry, then the machine stops with an empty queue
    auto queued = PostAndWatch<EvGo>(*hsm);
    // A poster blocks on the queued event, as a request thread would.
    auto blocked = std::async(std::launch::async, [&] { return queued.get(); });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    hsm->Close();
    EXPECT_FALSE(blocked.get());

    auto late = PostAndWatch<EvGo>(*hsm);
    ASSERT_EQ(late.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(late.get());
}

TEST_F(HsmEngine, StopFromAnotherThreadEndsRun)
{
    std::thread runner([&] { hsm->Run(); });
    EXPECT_TRUE(PostAndWatch<EvGo>(*hsm).get()); // dispatched: Run waits for the next event
    hsm->Stop();
    runner.join();
}

} // namespace
