#include "tests/statemachines/testmachine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <thread>

using ::testing::ElementsAre;

namespace {

struct HsmEngine : ::testing::Test {
    std::shared_ptr<CTestHandler> handler = std::make_shared<CTestHandler>();
    std::shared_ptr<CTestHsm> hsm = std::make_shared<CTestHsm>(handler);

    template <typename Event>
    std::future<bool> Post()
    {
        auto event = std::make_shared<Event>();
        auto future = event->GetFuture();
        hsm->PostEvent(event);
        return future;
    }
};

TEST_F(HsmEngine, StopLeavesQueuedEventsUndispatchedUntilTheNextRun)
{
    auto burst = Post<EvBurst>();
    auto a = Post<EvGo>();
    Post<EvGo>();
    Post<EvGo>();

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
    auto queued = Post<EvGo>();
    hsm.reset();
    EXPECT_THROW(queued.get(), std::future_error);
    // The handler outlives the machine and no longer reaches it.
    EXPECT_EQ(handler->GetHsmInterface(), nullptr);
    EXPECT_THROW(handler->Post<EvGo>(), std::logic_error);
}

TEST_F(HsmEngine, AnExceptionFromAnActionLeavesRunAndTheQueueSurvives)
{
    Post<EvGo>();
    auto thrown = Post<EvThrow>();
    auto after = Post<EvGo>();
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
    EXPECT_DEATH(
        {
            auto handler = std::make_shared<CTestHandler>();
            handler->mThrowOnEnterFirst = true;
            auto hsm = std::make_shared<CTestHsm>(handler);
            hsm->RunUntilIdle();
        },
        "");
}

// After the machine's last Run, a request posted into it (an IPC thread
// racing the shutdown) must not stay blocked: the host joins its request
// threads while the machine object is still alive.
TEST_F(HsmEngine, CloseReleasesQueuedAndLaterPostsAsNotHandled)
{
    hsm->RunUntilIdle(); // initial entry, then the machine stops with an empty queue
    auto queued = Post<EvGo>();
    // A poster blocks on the queued event, as a request thread would.
    auto blocked = std::async(std::launch::async, [&] { return queued.get(); });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    hsm->Close();
    EXPECT_FALSE(blocked.get());

    auto late = Post<EvGo>();
    ASSERT_EQ(late.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(late.get());
}

TEST_F(HsmEngine, StopFromAnotherThreadEndsRun)
{
    std::thread runner([&] { hsm->Run(); });
    EXPECT_TRUE(Post<EvGo>().get()); // dispatched: Run waits for the next event
    hsm->Stop();
    runner.join();
}

} // namespace
