#include "platform/ipc/grpc/timereventengine.h"
#include "platform/worker/manualclock.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;

class TimerEventEngine : public testing::Test {
protected:
    // Returns once every task due by now has run: a task queued now runs after them.
    void Settle()
    {
        const int marker = --mMarker;
        mEngine.Run([this, marker] { mRan.Add(marker); });
        ASSERT_TRUE(mRan.WaitForLast(marker));
    }
    // The tasks that ran, without the markers.
    std::vector<int> Ran()
    {
        auto values = mRan.Values();
        std::erase_if(values, [](int value) { return value < 0; });
        return values;
    }

    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    IpcTest::CRecorder<int> mRan;
    int mMarker = 0;
    IpcGrpc::CTimerEventEngine mEngine{mClock};
};

TEST_F(TimerEventEngine, RunsTasksInDueOrderOnlyWhenDue)
{
    for (const int ms : {30, 10, 20}) {
        mEngine.RunAfter(std::chrono::milliseconds(ms), [this, ms] { mRan.Add(ms); });
    }
    // A task run before it is due would be here with the others.
    mClock->Advance(20ms);
    Settle();
    EXPECT_THAT(Ran(), ElementsAre(10, 20));
    mClock->Advance(10ms);
    Settle();
    EXPECT_THAT(Ran(), ElementsAre(10, 20, 30));
}

TEST_F(TimerEventEngine, CancelDropsAPendingTaskAtOnceAndReportsWhetherItStoppedIt)
{
    auto held = std::make_shared<int>(1);
    const std::weak_ptr<int> watch = held;
    const auto pending = mEngine.RunAfter(1h, [this, held = std::move(held)] { mRan.Add(1); });
    const auto due = mEngine.RunAfter(1ms, [this] { mRan.Add(2); });
    EXPECT_TRUE(mEngine.Cancel(pending));
    // What the cancelled task held is released now, not when it would have been due.
    EXPECT_TRUE(watch.expired());
    mClock->Advance(2h);
    Settle();
    EXPECT_THAT(Ran(), ElementsAre(2));
    EXPECT_FALSE(mEngine.Cancel(due));
    EXPECT_FALSE(mEngine.Cancel(pending));
}

} // namespace
