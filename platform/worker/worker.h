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
    // Told the text of an exception that escaped a queued call.
    using ErrorReporter = std::function<void(const std::string& what)>;

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
    // An exception thrown by fn reaches the caller. When a Stop drops the
    // call before it ran, a warning is logged and BlockingCall returns.
    virtual void BlockingCall(Fn fn);

    // Runs fn at the time point and, for a non-zero period, again every period
    // (next due = previous due + period; a worker that fell behind, or a
    // manual clock that jumped, continues at now + period instead of running
    // the missed calls in a burst). Calls queued before Start wait for it;
    // calls queued while a Stop is in progress are dropped (finished).
    // An exception escaping fn on the worker thread is logged with the
    // worker's name and given to the error reporter; the thread goes on (a
    // periodic call keeps its period).
    CallHandle AddCall(Fn fn, IClock::time_point due, IClock::duration period = IClock::duration::zero());

    // How the owner reports an exception of a queued call (besides the log
    // line); replaces an earlier reporter. Runs on the worker's thread; an
    // exception of the reporter itself is only logged.
    void SetErrorReporter(ErrorReporter reporter);

    IClock& Clock() const { return *mClock; }
    const std::shared_ptr<IClock>& ClockPtr() const { return mClock; }

private:
    // Everything the thread touches lives in a shared state that the thread
    // keeps alive: a worker may be destroyed by its own thread (a call that
    // holds the last reference to its owner), and the loop must then finish
    // without touching the destroyed object.
    struct SState;

    static void Loop(const std::shared_ptr<SState>& state);
    // Runs one queued call inside the thread's exception boundary.
    static void RunGuarded(SState& state, const Fn& fn);

    // Set in the constructor, constant afterwards.
    std::string mName;
    std::shared_ptr<IClock> mClock;
    std::shared_ptr<SState> mState;
    int mClockListener = 0;

    std::mutex mControlMutex;           // serialises Start/Stop joins; guards mThread
    std::thread mThread;
};
