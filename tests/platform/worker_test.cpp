#include "platform/worker/manualclock.h"
#include "platform/worker/worker.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 5s; // bound for waits that normally end in microseconds

class WorkerTest : public ::testing::Test {
protected:
    // Moves the clock and returns once the worker ran what fell due.
    void Advance(CWorker& worker, IClock::duration by) const
    {
        mClock->Advance(by);
        worker.Sync();
    }

    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
};

TEST_F(WorkerTest, RunsByDueTimeThenInQueueOrderAndWakesOnClockAdvance)
{
    CWorker worker("order", mClock);
    std::vector<std::string> order; // touched on the worker thread only until Sync
    const auto t0 = mClock->Now();
    worker.AddCall([&] { order.push_back("late1"); }, t0 + 2s);
    worker.AddCall([&] { order.push_back("mid1"); }, t0 + 1s);
    worker.NonBlockingCall([&] { order.push_back("now1"); });
    worker.AddCall([&] { order.push_back("late2"); }, t0 + 2s);
    worker.AddCall([&] { order.push_back("mid2"); }, t0 + 1s);
    worker.NonBlockingCall([&] { order.push_back("now2"); });
    worker.Start();
    worker.Sync();
    EXPECT_EQ(order, (std::vector<std::string>{"now1", "now2"}));
    Advance(worker, 2s);
    EXPECT_EQ(order, (std::vector<std::string>{"now1", "now2", "mid1", "mid2", "late1", "late2"}));

    // The worker sleeps until the clock's listener wakes it; an Advance from
    // another thread must never be lost, without Sync waking the loop.
    for (int i = 0; i < 200; ++i) {
        std::promise<void> fired;
        worker.AddCall([&] { fired.set_value(); }, mClock->Now() + 1ms);
        mClock->Advance(1ms);
        ASSERT_EQ(fired.get_future().wait_for(kWait), std::future_status::ready) << "iteration " << i;
    }
}

TEST_F(WorkerTest, ManualClockDrivesPeriodicAndLongTimersAndCancelStopsThem)
{
    CWorker worker("periodic", mClock);
    worker.Start();
    int ticks = 0;
    bool timerFired = false;
    const auto t0 = mClock->Now();
    auto periodic = worker.AddCall([&] { ++ticks; }, t0 + 1s, 1s);
    worker.AddCall([&] { timerFired = true; }, t0 + 15min);

    const auto advanceSeconds = [&](int seconds) {
        for (int i = 0; i < seconds; ++i) {
            Advance(worker, 1s);
        }
    };
    advanceSeconds(15 * 60 - 1);
    EXPECT_FALSE(timerFired);
    advanceSeconds(1);
    EXPECT_TRUE(timerFired);
    advanceSeconds(3600 - 15 * 60);
    EXPECT_EQ(ticks, 3600);
    EXPECT_FALSE(periodic->IsFinished());

    // A clock jump gives one run, not a burst of the missed ones.
    const std::pair<IClock::duration, int> jumps[] = {{1h, 3601}, {999ms, 3601}, {1ms, 3602}};
    for (const auto& [by, expected] : jumps) {
        Advance(worker, by);
        EXPECT_EQ(ticks, expected) << std::chrono::duration_cast<std::chrono::milliseconds>(by).count() << " ms";
    }

    // Periodic calls: one cancels itself on its third run, one is cancelled
    // from the test thread after two runs; a one-shot before it is due.
    int insideRuns = 0, outsideRuns = 0;
    bool finishedDuringRun = true, oneShotRan = false;
    CWorker::CallHandle self; // set before the clock lets the call run
    self = worker.AddCall(
        [&] {
            if (++insideRuns == 3) {
                self->Cancel();
                finishedDuringRun = self->IsFinished();
            }
        },
        mClock->Now() + 1s, 1s);
    auto outside = worker.AddCall([&] { ++outsideRuns; }, mClock->Now() + 1s, 1s);
    auto oneShot = worker.AddCall([&] { oneShotRan = true; }, mClock->Now() + 5s);
    oneShot->Cancel();
    EXPECT_TRUE(oneShot->IsFinished() && oneShot->IsCancelled());
    for (int i = 0; i < 10; ++i) {
        Advance(worker, 1s);
        if (i == 1) {
            outside->Cancel();
            EXPECT_TRUE(outside->IsFinished());
        }
    }
    EXPECT_EQ(insideRuns, 3);
    EXPECT_FALSE(finishedDuringRun);
    EXPECT_TRUE(self->IsFinished());
    EXPECT_EQ(outsideRuns, 2);
    EXPECT_FALSE(oneShotRan);
}

TEST_F(WorkerTest, ARestartedTimerReleasesItsCancelledCalls)
{
    // A timer cancelled and queued again on every event (an hour-long quiet
    // timer) must not keep each cancelled call until its due time.
    CWorker worker("restart", mClock);
    worker.Start();
    std::string order; // touched on the worker thread only until Sync
    worker.AddCall([&] { order += "live "; }, mClock->Now() + 2h);
    auto held = std::make_shared<int>(0);
    CWorker::CallHandle timer = worker.AddCall([held] {}, mClock->Now() + 1h);
    const std::weak_ptr<int> watch = std::exchange(held, nullptr);
    for (int i = 0; i < 1000; ++i) {
        timer->Cancel();
        timer = worker.AddCall([&, i] { order += std::to_string(i) + " "; }, mClock->Now() + 1h + i * 1s);
    }
    EXPECT_TRUE(watch.expired()) << "the first cancelled call still holds what it captured";
    Advance(worker, 3h);
    EXPECT_EQ(order, "999 live ");
}

// Not started, Sync returns at once and a blocking call runs inline. Started,
// it runs on the worker; the exception reaches the caller and the worker
// survives it. Nested on the worker's own thread, a blocking call or a Sync
// runs inline, no deadlock.
TEST_F(WorkerTest, BlockingCallRunsOnTheWorkerOnlyWhenItCanAndRethrows)
{
    CWorker worker("blocking");
    worker.Sync();
    std::thread::id ranOn;
    worker.BlockingCall([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    worker.Start();
    EXPECT_THROW(worker.BlockingCall([] { throw std::runtime_error("boom"); }), std::runtime_error);
    bool onWorker = false;
    worker.BlockingCall([&] { onWorker = worker.IsThisThread(); });
    EXPECT_TRUE(onWorker);
    EXPECT_FALSE(worker.IsThisThread());
    std::vector<int> steps;
    worker.BlockingCall([&] {
        steps.push_back(1);
        worker.BlockingCall([&] { steps.push_back(2); });
        worker.Sync();
        steps.push_back(3);
    });
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
}

// Stopped from inside a call: what it queued is dropped; a restart runs calls again.
TEST_F(WorkerTest, StopFromInsideACallDropsWhatItQueued)
{
    CWorker worker("blocking");
    worker.Start();
    bool laterRan = false;
    bool stillRunningInside = true;
    worker.BlockingCall([&] {
        worker.NonBlockingCall([&] { laterRan = true; });
        worker.Stop();
        stillRunningInside = worker.IsRunning();
    });
    EXPECT_FALSE(stillRunningInside);
    worker.Start();
    bool onWorker = false;
    worker.BlockingCall([&] { onWorker = worker.IsThisThread(); });
    EXPECT_TRUE(onWorker);
    EXPECT_FALSE(laterRan);
}

TEST_F(WorkerTest, APeriodicCallCancelledDuringItsRunFinishesAfterIt)
{
    CWorker worker("blocking");
    worker.Start();
    std::latch started(1), release(1);
    std::atomic<int> runs{0};
    auto handle = worker.AddCall(
        [&] {
            ++runs;
            started.count_down();
            release.wait();
        },
        worker.Clock().Now(), 1ms);
    started.wait();
    handle->Cancel();
    EXPECT_FALSE(handle->IsFinished()); // its run is still in progress
    release.count_down();
    worker.Sync();
    EXPECT_TRUE(handle->IsFinished());
    EXPECT_EQ(runs, 1);
}

TEST_F(WorkerTest, StopDropsPendingCallsAndLetsTheRunningOneFinish)
{
    std::atomic<bool> pendingRan{false};
    std::atomic<bool> runningFinished{false};
    CWorker::CallHandle running, pending, future;
    {
        CWorker worker("stop");
        worker.Start();
        std::latch started(1), release(1);
        running = worker.NonBlockingCall([&] {
            started.count_down();
            release.wait();
            runningFinished = true;
        });
        pending = worker.NonBlockingCall([&] { pendingRan = true; });
        future = worker.AddCall([&] { pendingRan = true; }, worker.Clock().Now() + 1h, 1s);
        started.wait();
        std::thread releaser([&] {
            // Releases the running call once Stop has dropped the rest.
            while (!pending->IsFinished()) {
                std::this_thread::yield();
            }
            release.count_down();
        });
        worker.Stop();
        releaser.join();
        EXPECT_FALSE(worker.IsRunning());
        // Queued after the stop completed: waits for a new Start, dropped by the destructor.
        future = worker.NonBlockingCall([&] { pendingRan = true; });
    }
    EXPECT_TRUE(runningFinished);
    EXPECT_TRUE(running->IsFinished());
    EXPECT_FALSE(pendingRan);
    EXPECT_TRUE(future->IsFinished());
}

// A worker owned by its own queued call is destroyed on its own thread when
// that call is released; the loop must end cleanly without deadlock.
TEST_F(WorkerTest, AWorkerOwnedByItsCallIsDestroyedOnItsOwnThread)
{
    struct CProbe : CWorker {
        explicit CProbe(std::promise<void>& destroyed)
            : CWorker("probe")
            , mDestroyed(destroyed)
        {
        }
        ~CProbe() override { mDestroyed.set_value(); }
        std::promise<void>& mDestroyed;
    };
    std::promise<void> destroyed;
    auto destroyedFuture = destroyed.get_future();
    {
        auto probe = std::make_shared<CProbe>(destroyed);
        probe->Start();
        probe->AddCall([keep = probe] {}, probe->Clock().Now() + 1ms);
    }
    ASSERT_EQ(destroyedFuture.wait_for(kWait), std::future_status::ready);
}

TEST_F(WorkerTest, ExceptionOfACallIsLoggedAndReportedAndTheThreadGoesOn)
{
    TestSupport::CLogCapture log;
    std::vector<std::string> reported; // written on the worker, read after Sync
    std::atomic<int> runs{0};
    CWorker worker("throws", mClock);
    worker.SetErrorReporter([&](const std::string& what) { reported.push_back(what); });
    worker.Start();
    worker.AddCall(
        [&] {
            ++runs;
            throw std::runtime_error("escaped");
        },
        mClock->Now(), 1s);
    worker.Sync();
    Advance(worker, 1s);
    EXPECT_EQ(runs, 2); // the periodic call keeps its period
    EXPECT_EQ(reported, (std::vector<std::string>{"escaped", "escaped"}));
    EXPECT_TRUE(log.Contains(Log::error, "Worker throws: a call failed: escaped"));
}

} // namespace
