#pragma once
// Threads for request handlers, which may block (a lifecycle request waits
// for the state machine), so the completion-queue thread never does. A
// thread is started when a task finds none free and ends as soon as no task
// waits: an idle host has none. At most `limit` run at once; further tasks
// wait for a free thread. After a burst of tasks, the last thread stays
// until no task came for kSettle, then trims the heap (CMemoryTrim) and ends:
// most of a flood's memory (its connections, refused and oversized
// messages) is freed only after its last task, and would otherwise stay
// resident.

#include "platform/toolbox/memorytrim.h"
#include "platform/worker/iclock.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace IpcGrpc {

class CHandlerPool {
public:
    using Trimmer = std::function<void()>;
    // trim gives freed heap back (CMemoryTrim::Trim unless a test's).
    explicit CHandlerPool(std::size_t limit, std::shared_ptr<IClock> clock = IClock::Steady(),
                          Trimmer trim = &CMemoryTrim::Trim);
    // Runs the queued tasks, then joins every thread.
    ~CHandlerPool();
    CHandlerPool(const CHandlerPool&) = delete;
    CHandlerPool& operator=(const CHandlerPool&) = delete;

    // False when no thread could take the task (it is dropped).
    bool Submit(std::function<void()> task);
    // Waits until no task is queued or running and every thread has ended;
    // a thread waiting to trim does so at once.
    void WaitIdle();

    // Quiet time after a burst before the heap is trimmed.
    static constexpr IClock::duration kSettle = std::chrono::seconds(2);

private:
    struct SWorker {
        std::thread thread;
        bool finished = false;
    };
    void Work(SWorker& worker);
    // Joins the threads that have ended. Called with mMutex held; they no
    // longer take it.
    void ReapFinished();
    // Runs the queued tasks; called and returns with mMutex held.
    void RunQueued(std::unique_lock<std::mutex>& lock);
    // Waits, mMutex held, until a task is queued (true), kSettle has passed
    // or WaitIdle hurries (false).
    bool WaitForTask(std::unique_lock<std::mutex>& lock);

    // Requests that make a burst whose end is worth a heap trim.
    static constexpr std::size_t kTrimAfterTasks = 32;

    const std::size_t mLimit;
    const std::shared_ptr<IClock> mClock;
    const Trimmer mTrimmer;
    int mClockListener = 0;
    CMemoryTrim mTrim{kTrimAfterTasks}; // own guard (atomic)
    std::mutex mMutex; // guards the fields below
    std::condition_variable mIdle;
    std::condition_variable mWake; // a task queued, the clock moved, or WaitIdle hurries
    bool mTrimOwed = false;        // a burst ended, its trim not yet done
    bool mHurry = false;           // WaitIdle waits: trim without waiting
    std::deque<std::function<void()>> mTasks;
    std::list<SWorker> mWorkers;
    std::size_t mBusy = 0;    // threads running a task
    std::size_t mRunning = 0; // threads not yet finished
};

} // namespace IpcGrpc
