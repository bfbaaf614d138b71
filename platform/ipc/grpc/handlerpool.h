#pragma once
// Threads for request handlers, which may block (a lifecycle request waits
// for the state machine), so the completion-queue thread never does. A
// thread is started when a task finds none free and ends as soon as no task
// waits: an idle host has none. At most `limit` run at once; further tasks
// wait for a free thread. After a burst of tasks, the last thread to end
// trims the heap (CMemoryTrim), so a flood's memory does not stay resident.

#include "platform/toolbox/memorytrim.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace IpcGrpc {

class CHandlerPool {
public:
    explicit CHandlerPool(std::size_t limit);
    // Runs the queued tasks, then joins every thread.
    ~CHandlerPool();
    CHandlerPool(const CHandlerPool&) = delete;
    CHandlerPool& operator=(const CHandlerPool&) = delete;

    // False when no thread could take the task (it is dropped).
    bool Submit(std::function<void()> task);
    // Waits until no task is queued or running and every thread has ended.
    void WaitIdle();

private:
    struct SWorker {
        std::thread thread;
        bool finished = false;
    };
    void Work(SWorker& worker);
    // Joins the threads that have ended. Called with mMutex held; they no
    // longer take it.
    void ReapFinished();

    // Requests that make a burst whose end is worth a heap trim.
    static constexpr std::size_t kTrimAfterTasks = 32;

    const std::size_t mLimit;
    CMemoryTrim mTrim{kTrimAfterTasks}; // own guard (atomic)
    std::mutex mMutex; // guards the fields below
    std::condition_variable mIdle;
    std::deque<std::function<void()>> mTasks;
    std::list<SWorker> mWorkers;
    std::size_t mBusy = 0;    // threads running a task
    std::size_t mRunning = 0; // threads not yet finished
};

} // namespace IpcGrpc
