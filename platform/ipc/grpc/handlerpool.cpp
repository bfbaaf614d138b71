#include "platform/ipc/grpc/handlerpool.h"

#include "platform/ipc/grpc/ipclog.h"

#include <pthread.h>

#include <system_error>

namespace IpcGrpc {

CHandlerPool::CHandlerPool(std::size_t limit, std::shared_ptr<IClock> clock, Trimmer trim)
    : mLimit(limit)
    , mClock(clock ? std::move(clock) : IClock::Steady())
    , mTrimmer(std::move(trim))
{
    // A manual clock moves without the waiting thread noticing.
    mClockListener = mClock->AddListener([this] {
        std::lock_guard lock(mMutex);
        mWake.notify_all();
    });
}

CHandlerPool::~CHandlerPool()
{
    WaitIdle();
    mClock->RemoveListener(mClockListener);
}

bool CHandlerPool::Submit(std::function<void()> task)
{
    std::lock_guard lock(mMutex);
    mTasks.push_back(std::move(task));
    ReapFinished();
    // Every running thread that is not busy takes a queued task.
    if (mRunning - mBusy >= mTasks.size() || mRunning >= mLimit) {
        mWake.notify_one(); // a thread waiting to trim takes it
        return true;
    }
    auto& worker = mWorkers.emplace_back();
    ++mRunning;
    try {
        worker.thread = std::thread([this, &worker] { Work(worker); });
    } catch (const std::system_error& e) {
        --mRunning;
        mWorkers.pop_back();
        Log(ELevel::error, "Cannot start a request thread: {}", e.what());
        if (mRunning == 0) {
            // No thread would ever run it: the caller refuses the request.
            mTasks.pop_back();
            return false;
        }
        // A running thread takes it later.
    }
    return true;
}

void CHandlerPool::Work(SWorker& worker)
{
    pthread_setname_np(pthread_self(), "ipc-request");
    std::unique_lock lock(mMutex);
    for (;;) {
        RunQueued(lock);
        // The last thread of a burst waits for the burst to be over, then
        // gives the memory it freed back before it ends.
        if (mRunning != 1 || !(mTrimOwed || mTrim.Due())) {
            break;
        }
        mTrimOwed = true;
        if (WaitForTask(lock)) {
            continue; // the burst goes on
        }
        mTrimOwed = false;
        lock.unlock();
        mTrimmer();
        lock.lock();
        if (mTasks.empty()) {
            break;
        }
    }
    worker.finished = true;
    --mRunning;
    mIdle.notify_all();
}

void CHandlerPool::RunQueued(std::unique_lock<std::mutex>& lock)
{
    while (!mTasks.empty()) {
        auto task = std::move(mTasks.front());
        mTasks.pop_front();
        ++mBusy;
        lock.unlock();
        try {
            task();
        } catch (...) {
            // The tasks catch what their handlers throw; nothing may end the process here.
            Log(ELevel::error, "A request task failed with an exception");
        }
        task = nullptr; // released before the lock is taken again
        mTrim.Count();
        lock.lock();
        --mBusy;
    }
}

bool CHandlerPool::WaitForTask(std::unique_lock<std::mutex>& lock)
{
    const auto due = mClock->Now() + kSettle;
    for (;;) {
        if (!mTasks.empty()) {
            return true;
        }
        const auto now = mClock->Now();
        if (mHurry || now >= due) {
            return false;
        }
        if (mClock->IsRealTime()) {
            mWake.wait_for(lock, due - now);
        } else {
            mWake.wait(lock); // woken by the clock's listener
        }
    }
}

void CHandlerPool::ReapFinished()
{
    for (auto it = mWorkers.begin(); it != mWorkers.end();) {
        if (it->finished) {
            it->thread.join();
            it = mWorkers.erase(it);
        } else {
            ++it;
        }
    }
}

void CHandlerPool::WaitIdle()
{
    std::unique_lock lock(mMutex);
    mHurry = true;
    mWake.notify_all();
    mIdle.wait(lock, [&] { return mRunning == 0 && mTasks.empty(); });
    mHurry = false;
    ReapFinished();
}

} // namespace IpcGrpc
