#include "statemachines/recoverybackoff.h"
#include "platform/worker/manualclock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

namespace {

TEST(RecoveryBackoff, DoublesUpToTheMaximumAndResets)
{
    CWorker worker("backoff", std::make_shared<CManualClock>());
    CRecoveryBackoff backoff;
    std::vector<IClock::duration> delays;
    for (int i = 0; i < 9; ++i) {
        delays.push_back(backoff.NextDelay());
        backoff.Arm(worker, [] {});
    }
    EXPECT_EQ(delays, (std::vector<IClock::duration>{5s, 10s, 20s, 40s, 80s, 160s, 300s, 300s, 300s}));
    EXPECT_TRUE(backoff.IsArmed());
    backoff.Reset();
    EXPECT_FALSE(backoff.IsArmed());
    EXPECT_EQ(backoff.NextDelay(), IClock::duration(5s));

    EXPECT_THROW(CRecoveryBackoff(0s, 1s), std::invalid_argument);
    EXPECT_THROW(CRecoveryBackoff(2s, 1s), std::invalid_argument);
}

TEST(RecoveryBackoff, RetriesAtItsDelayUntilCancelled)
{
    auto clock = std::make_shared<CManualClock>();
    CWorker worker("backoff", clock);
    worker.Start();
    std::atomic<int> retries{0};
    CRecoveryBackoff backoff(5s, 60s);
    backoff.Arm(worker, [&] { ++retries; });

    auto after = [&](IClock::duration d) {
        clock->Advance(d);
        worker.Sync();
        return retries.load();
    };
    EXPECT_EQ(after(4s), 0);
    EXPECT_EQ(after(1s), 1);
    EXPECT_EQ(after(5s), 2);
    backoff.Cancel();
    EXPECT_EQ(after(30s), 2);

    // Re-arming after a failure waits twice as long; only the new retry runs.
    backoff.Arm(worker, [&] { retries += 10; });
    EXPECT_EQ(after(9s), 2);
    EXPECT_EQ(after(1s), 12);
    worker.Stop();
}

} // namespace
