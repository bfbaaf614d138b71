#include "tools/tarvctl/tarvctldeadline.h"

CTarvCtlDeadline::CTarvCtlDeadline(std::function<void(std::chrono::seconds)> onExpiry)
    : mOnExpiry(std::move(onExpiry)), mThread([this] { Watch(); })
{
}

CTarvCtlDeadline::~CTarvCtlDeadline()
{
    {
        std::lock_guard lock(mMutex);
        mStop = true;
    }
    mChanged.notify_all();
    mThread.join();
}

void CTarvCtlDeadline::Arm(std::chrono::seconds timeout)
{
    {
        std::lock_guard lock(mMutex);
        mTimeout = timeout;
        mDeadline = std::chrono::steady_clock::now() + timeout;
    }
    mChanged.notify_all();
}

void CTarvCtlDeadline::Disarm()
{
    {
        std::lock_guard lock(mMutex);
        mDeadline = std::chrono::steady_clock::time_point::max();
    }
    mChanged.notify_all();
}

void CTarvCtlDeadline::Watch()
{
    std::unique_lock lock(mMutex);
    while (!mStop) {
        if (mDeadline == std::chrono::steady_clock::time_point::max()) {
            mChanged.wait(lock);
        } else if (mChanged.wait_until(lock, mDeadline) == std::cv_status::timeout &&
                   std::chrono::steady_clock::now() >= mDeadline) {
            mDeadline = std::chrono::steady_clock::time_point::max();
            const std::chrono::seconds timeout = mTimeout;
            lock.unlock();
            mOnExpiry(timeout);
            lock.lock();
        }
    }
}
