#include "platform/ipc/grpc/handlerpool.h"

#include "platform/ipc/grpc/ipclog.h"

#include <pthread.h>

#include <system_error>

namespace IpcGrpc {

CHandlerPool::CHandlerPool(std::size_t limit) : mLimit(limit) {}

CHandlerPool::~CHandlerPool()
{
    WaitIdle();
}

bool CHandlerPool::Submit(std::function<void()> task)
{
    std::lock_guard lock(mMutex);
    mTasks.push_back(std::move(task));
    ReapFinished();
    // Every running thread that is not busy takes a queued task.
    if (mRunning - mBusy >= mTasks.size() || mRunning >= mLimit) {
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
        // The last thread of a burst gives the memory the burst freed back
        // before it ends; a task queued meanwhile is still its own.
        if (mRunning != 1 || !mTrim.Due()) {
            break;
        }
        lock.unlock();
        CMemoryTrim::Trim();
        lock.lock();
    }
    worker.finished = true;
    --mRunning;
    mIdle.notify_all();
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
    mIdle.wait(lock, [&] { return mRunning == 0 && mTasks.empty(); });
    ReapFinished();
}

} // namespace IpcGrpc
