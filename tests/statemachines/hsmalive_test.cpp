#include "statemachines/hsmalive.h"
#include "statemachines/recoverybackoff.h"
#include "platform/worker/manualclock.h"
#include "tests/statemachines/recordinghandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

namespace {

// Actions that do nothing but the alive supervision; the test thread plays
// the machine's thread and calls them directly.
class CAliveActions : public CHsmAlive<CRecordingHandler> {
public:
    explicit CAliveActions(const std::shared_ptr<IClock>& clock) : CWorker("alive", clock) { Start(); }
    ~CAliveActions() override { Stop(); }

    std::atomic<bool> mHealthy{true};

protected:
    bool AliveCondition() override { return mHealthy; }
};

struct HsmAlive : ::testing::Test {
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CAliveActions> handler = std::make_shared<CAliveActions>(clock);
    std::atomic<int> ticks{0};

    HsmAlive()
    {
        handler->mAliveCallback = [this] { ++ticks; };
    }

    int TicksAfter(IClock::duration advance)
    {
        clock->Advance(advance);
        handler->Sync();
        return ticks.load();
    }
};

TEST_F(HsmAlive, TicksAtOnceThenEveryFourSecondsAndARestartKeepsOneTimer)
{
    handler->IntStartAliveTimer();
    EXPECT_EQ(TicksAfter(0s), 1);
    EXPECT_EQ(TicksAfter(3999ms), 1);
    EXPECT_EQ(TicksAfter(1ms), 2);
    handler->IntStartAliveTimer();
    EXPECT_EQ(TicksAfter(0s), 3); // each start ticks at once
    EXPECT_EQ(TicksAfter(4s), 4);
    handler->IntStopAliveTimer();
    EXPECT_EQ(TicksAfter(40s), 4);
}

TEST_F(HsmAlive, NoTickWhileTheConditionFailsAndNoCrashWithoutCallback)
{
    handler->mHealthy = false;
    handler->IntStartAliveTimer();
    EXPECT_EQ(TicksAfter(0s), 0);
    handler->mHealthy = true;
    EXPECT_EQ(TicksAfter(4s), 1);
    handler->IntStopAliveTimer();

    handler->mAliveCallback = nullptr;
    handler->IntStartAliveTimer();
    handler->Sync();
    handler->IntStopAliveTimer();
}

TEST(RecoveryBackoff, DoublesUpToTheMaximumAndResets)
{
    const auto clock = std::make_shared<CManualClock>();
    CWorker worker("backoff", clock);
    worker.Start();
    CRecoveryBackoff backoff;
    std::atomic<int> retries{0};
    // Arms and returns how long the retry took to come, in whole seconds.
    const auto armedDelay = [&] {
        backoff.Arm(worker, [&] { ++retries; });
        const int before = retries;
        IClock::duration waited{};
        while (retries == before && waited < 1h) {
            clock->Advance(1s);
            worker.Sync();
            waited += 1s;
        }
        return waited;
    };
    for (const auto expected : {5s, 10s, 20s, 40s, 80s, 160s, 300s, 300s, 300s}) {
        EXPECT_EQ(armedDelay(), expected) << expected.count();
    }
    // Reset cancels the repeating retry and starts again from the first delay.
    backoff.Reset();
    const int before = retries;
    clock->Advance(1h);
    worker.Sync();
    EXPECT_EQ(retries, before);
    EXPECT_EQ(armedDelay(), 5s);
    worker.Stop();
}

} // namespace
