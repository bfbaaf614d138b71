#pragma once
// One thread with a queue of timed calls, ordered by due time (calls due at
// the same time run in the order they were queued), run one at a time.

#include "platform/worker/iclock.h"
#include "platform/worker/workercall.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CWorker {
public:
    using Fn = std::function<void()>;
    using CallHandle = std::shared_ptr<CWorkerCall>;

    // The name shows in the thread name (at most 15 characters are kept).
    explicit CWorker(std::string name = "worker", std::shared_ptr<IClock> clock = IClock::Steady());
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;
    // Cancels what is pending and joins the thread.
    virtual ~CWorker();

    // Starts the thread; a second Start while running does nothing.
    virtual void Start();
    // Cancels every pending call, lets a running call finish and joins the
    // thread. From the worker's own thread it only requests the stop.
    virtual void Stop();
    // Returns once every call queued and due before Sync has run.
    // Runs nothing and returns at once on the worker's own thread.
    virtual void Sync();
    virtual bool IsRunning() const;
    virtual bool IsThisThread() const;
    // Drops every pending call and asks the thread to end without waiting for it.
    virtual void EmergencyKill();
    // Queues fn to run as soon as possible.
    virtual CallHandle NonBlockingCall(Fn fn);
    // Runs fn on the worker thread and returns after it has run; inline when
    // called from the worker's own thread or when the worker is not running.
    // An exception thrown by fn reaches the caller.
    virtual void BlockingCall(Fn fn);

    // Runs fn at the time point and, for a non-zero period, again every period.
    CallHandle AddCall(Fn fn, IClock::time_point due, IClock::duration period = IClock::duration::zero());

    IClock& Clock() const { return *mClock; }
    const std::shared_ptr<IClock>& ClockPtr() const { return mClock; }

private:
    struct SEntry {
        IClock::time_point due;
        std::uint64_t seq;
        IClock::duration period;
        Fn fn;
        CallHandle handle;
    };
    struct SLater {
        bool operator()(const SEntry& a, const SEntry& b) const
        {
            return a.due != b.due ? a.due > b.due : a.seq > b.seq;
        }
    };

    void Loop();
    void DropPendingLocked();

    std::string mName;
    std::shared_ptr<IClock> mClock;
    int mClockListener = 0;

    mutable std::mutex mMutex;          // guards everything below
    std::condition_variable mCv;
    std::vector<SEntry> mQueue;         // heap ordered by SLater
    std::uint64_t mNextSeq = 0;
    bool mStopRequested = false;
    bool mRunning = false;
    std::thread mThread;
    std::thread::id mThreadId;
};
