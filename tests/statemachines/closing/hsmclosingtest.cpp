#include "tests/statemachines/engine/testmachine.h"

#include "statemachines/utils/statemachinesutility.h"

#include <gtest/gtest.h>

#include <future>

namespace {

// After the machine's last Run, a request posted into it (an IPC thread
// racing the shutdown) must not stay blocked: the host joins its request
// threads while the machine object is still alive.
TEST(HsmClosing, CloseReleasesQueuedAndLaterPostsAsNotHandled)
{
    auto handler = std::make_shared<CTestHandler>();
    auto hsm = std::make_shared<CTestHsm>(handler);
    hsm->RunUntilIdle(); // initial entry, then the machine stops with an empty queue

    auto queued = std::make_shared<EvBoth>();
    auto queuedFuture = queued->GetFuture();
    hsm->PostEvent(queued);
    // A poster blocks on the queued event, as a request thread would.
    auto blocked = std::async(std::launch::async, [&] { return queuedFuture.get(); });
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);

    hsm->Close();
    EXPECT_FALSE(blocked.get());

    auto late = std::make_shared<EvBoth>();
    auto lateFuture = late->GetFuture();
    hsm->PostEvent(late);
    ASSERT_EQ(lateFuture.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_FALSE(lateFuture.get());
    EXPECT_EQ(IEnableCall(*hsm).result(), ipc::MResult::Illegal);
}

} // namespace
