#include "statemachines/recoverybackoff.h"
#include "platform/worker/manualclock.h"

#include <gtest/gtest.h>

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

} // namespace
