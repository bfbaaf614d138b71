#include "tests/statemachines/engine/testmachine.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

namespace {

TEST(HsmEngineThreads, PostsFromManyThreadsAreAllDispatchedAndStopEndsRun)
{
    auto handler = std::make_shared<CTestHandler>();
    auto hsm = std::make_shared<CTestHsm>(handler);
    std::thread runner([&] { hsm->Run(); });

    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> posters;
    std::vector<std::vector<std::future<bool>>> futures(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                auto event = std::make_shared<EvBoth>();
                futures[t].push_back(event->GetFuture());
                hsm->PostEvent(event);
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    for (auto& list : futures) {
        for (auto& f : list) {
            EXPECT_TRUE(f.get());
        }
    }
    EXPECT_TRUE(hsm->IsRunning());
    hsm->Stop();
    runner.join();
    EXPECT_FALSE(hsm->IsRunning());
    // Only the machine thread touched mCalls, and it has ended.
    EXPECT_EQ(handler->mCalls.size(), 1U + kThreads * kPerThread);
}

} // namespace
