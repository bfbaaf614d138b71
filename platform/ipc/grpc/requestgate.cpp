#include "platform/ipc/grpc/requestgate.h"

namespace IpcGrpc {

CRequestGate::CRequestGate(std::size_t running, std::size_t waiting) : mMaxRunning(running), mMaxWaiting(waiting) {}

CRequestGate::~CRequestGate()
{
    std::unique_lock lock(mMutex);
    mFreed.wait(lock, [&] { return mRunning == 0 && mWaiting == 0; });
}

CRequestGate::EAdmission CRequestGate::Enter(Clock::time_point deadline, const std::function<bool()>& cancelled)
{
    std::unique_lock lock(mMutex);
    if (mRunning >= mMaxRunning) {
        if (mWaiting >= mMaxWaiting) {
            return mClosed ? EAdmission::closed : EAdmission::busy;
        }
        ++mWaiting;
        const auto ready = [&] { return mClosed || mRunning < mMaxRunning; };
        if (deadline == Clock::time_point::max()) {
            mFreed.wait(lock, ready);
        } else {
            mFreed.wait_until(lock, deadline, ready);
        }
        --mWaiting;
        mFreed.notify_all(); // for the destructor
    }
    if (mClosed) {
        return EAdmission::closed;
    }
    if (cancelled()) {
        return EAdmission::cancelled;
    }
    if (Clock::now() >= deadline) {
        return EAdmission::expired;
    }
    if (mRunning >= mMaxRunning) {
        return EAdmission::busy;
    }
    ++mRunning;
    return EAdmission::admitted;
}

void CRequestGate::Leave()
{
    std::lock_guard lock(mMutex);
    --mRunning;
    // All of them: a woken request whose client gave up does not take the
    // place, and another one must get it.
    mFreed.notify_all();
}

void CRequestGate::Close()
{
    std::lock_guard lock(mMutex);
    mClosed = true;
    mFreed.notify_all();
}

} // namespace IpcGrpc
