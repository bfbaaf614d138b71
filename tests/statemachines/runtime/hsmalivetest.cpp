#include "statemachines/tarvhsmplaceholderactionhandler.h"
#include "platform/worker/manualclock.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

namespace {

// The test thread plays the machine's thread and calls the actions directly.
struct HsmAlive : ::testing::Test {
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CTarvHsmPlaceholderActionHandler> handler =
        std::make_shared<CTarvHsmPlaceholderActionHandler>(clock);
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

TEST_F(HsmAlive, StoppingTheWorkerThreadCancelsTheTimer)
{
    // No machine: the completion post fails, after the timer is gone.
    handler->IntStartAliveTimer();
    EXPECT_EQ(TicksAfter(0s), 1);
    EXPECT_THROW(handler->IntStopWorkerThread(), std::logic_error);
    EXPECT_EQ(TicksAfter(8s), 1);
}

class CSilentHandler : public CTarvHsmPlaceholderActionHandler {
public:
    explicit CSilentHandler(const std::shared_ptr<IClock>& clock)
        : CWorker("silent", clock), CTarvHsmPlaceholderActionHandler(clock)
    {
    }
    std::atomic<bool> mHealthy{false};

protected:
    bool AliveCondition() override { return mHealthy; }
};

TEST(HsmAliveCondition, NoTickWhileTheConditionFailsAndNoCrashWithoutCallback)
{
    auto clock = std::make_shared<CManualClock>();
    auto handler = std::make_shared<CSilentHandler>(clock);
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

class CCarelessHandler : public CTarvHsmPlaceholderActionHandler {
public:
    using CTarvHsmPlaceholderActionHandler::CTarvHsmPlaceholderActionHandler;
};

TEST(HsmAliveCondition, ADerivedHandlerThatLosesTheClockIsRefused)
{
    // The inherited constructor leaves the virtual CWorker base on the real clock.
    EXPECT_THROW(CCarelessHandler(std::make_shared<CManualClock>()), std::logic_error);
}

} // namespace
