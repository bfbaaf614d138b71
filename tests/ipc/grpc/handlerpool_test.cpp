#include "platform/ipc/grpc/handlerpool.h"
#include "platform/worker/manualclock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 5s; // bound for waits that normally end in microseconds

TEST(HandlerPoolTest, TrimsOnceABurstHasBeenQuietAndWaitIdleTrimsWithoutWaiting)
{
    auto clock = std::make_shared<CManualClock>();
    std::atomic<int> trims{0};
    std::promise<void> firstTrim;
    IpcGrpc::CHandlerPool pool(4, clock, [&] {
        if (++trims == 1) {
            firstTrim.set_value();
        }
    });
    const auto burst = [&](int tasks) {
        std::latch ran(tasks);
        for (int i = 0; i < tasks; ++i) {
            ASSERT_TRUE(pool.Submit([&] { ran.count_down(); }));
        }
        ran.wait();
    };

    // The memory of a burst is freed after its last task: no trim until the
    // requests have been quiet for the settle time, and a task meanwhile
    // belongs to the same burst.
    burst(40);
    burst(1);
    clock->Advance(IpcGrpc::CHandlerPool::kSettle - 1ms);
    EXPECT_EQ(trims, 0);
    // The waiting thread reads the clock when it starts to wait, which may
    // be after an advance: advance again until it is due.
    auto trimmed = firstTrim.get_future();
    for (int i = 0; i < 500 && trimmed.wait_for(10ms) != std::future_status::ready; ++i) {
        clock->Advance(IpcGrpc::CHandlerPool::kSettle);
    }
    ASSERT_EQ(trimmed.wait_for(kWait), std::future_status::ready);
    pool.WaitIdle();
    EXPECT_EQ(trims, 1);

    // A few requests are no burst; a stop does not wait out the settle time.
    burst(5);
    pool.WaitIdle();
    EXPECT_EQ(trims, 1);
    burst(40);
    pool.WaitIdle();
    EXPECT_EQ(trims, 2);
}

} // namespace
