#include "statemachines/hsmalive.h"
#include "statemachines/tarvhsmactionhandlerbase.h"
#include "platform/worker/manualclock.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

namespace {

// Actions that do nothing but the alive supervision; the test thread plays
// the machine's thread and calls them directly.
class CAliveActions : public CHsmAlive<CTarvHsmActionHandlerBase> {
public:
    explicit CAliveActions(const std::shared_ptr<IClock>& clock) : CWorker("alive", clock) { Start(); }
    ~CAliveActions() override { Stop(); }

    void IntDisableAll() override {}
    void IntEnableNetworks() override {}
    void IntHandleError() override {}
    void IntInitializeNetwork() override {}
    void IntInitializeNtp() override {}
    void IntReinitialize() override {}
    void IntSetTarvEnabled() override {}
    void IntSetTarvNotEnabled() override {}
    void IntStartNtpd() override {}
    void IntStopRecovery() override {}
    void IntStopWorkerThread() override {}

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

TEST(HsmAliveCondition, NoTickWhileTheConditionFailsAndNoCrashWithoutCallback)
{
    auto clock = std::make_shared<CManualClock>();
    auto handler = std::make_shared<CAliveActions>(clock);
    handler->mHealthy = false;
    std::atomic<int> ticks{0};
    handler->mAliveCallback = [&] { ++ticks; };
    handler->IntStartAliveTimer();
    handler->Sync();
    EXPECT_EQ(ticks, 0);
    handler->mHealthy = true;
    clock->Advance(4s);
    handler->Sync();
    EXPECT_EQ(ticks, 1);
    handler->IntStopAliveTimer();

    TestSupport::CLogCapture log;
    handler->mAliveCallback = nullptr;
    handler->IntStartAliveTimer();
    handler->Sync();
    handler->IntStopAliveTimer();
    EXPECT_TRUE(log.Contains(Log::error, "Alive callback not set"));
}

} // namespace
