#include "platform/worker/manualclock.h"

#include <vector>

CManualClock::CManualClock()
    : CManualClock(time_point(std::chrono::hours(24 * 1000)))
{
}

CManualClock::CManualClock(time_point start)
    : mNow(start)
{
}

IClock::time_point CManualClock::Now() const
{
    std::lock_guard lock(mMutex);
    return mNow;
}

void CManualClock::SleepFor(duration d)
{
    Advance(d);
}

int CManualClock::AddListener(Listener listener)
{
    std::lock_guard lock(mMutex);
    const int id = mNextId++;
    mListeners.emplace(id, std::move(listener));
    return id;
}

void CManualClock::RemoveListener(int id)
{
    // Waits for a notification in progress, so the listener is never called
    // once RemoveListener has returned.
    std::lock_guard notifyLock(mNotifyMutex);
    std::lock_guard lock(mMutex);
    mListeners.erase(id);
}

void CManualClock::Advance(duration d)
{
    {
        std::lock_guard lock(mMutex);
        mNow += d;
    }
    Notify();
}

void CManualClock::Set(time_point t)
{
    {
        std::lock_guard lock(mMutex);
        mNow = t;
    }
    Notify();
}

void CManualClock::Notify()
{
    // Listeners run without mMutex: they take their worker's lock, and a
    // worker reads Now() while holding that lock.
    std::lock_guard notifyLock(mNotifyMutex);
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(mMutex);
        listeners.reserve(mListeners.size());
        for (const auto& [id, listener] : mListeners) {
            listeners.push_back(listener);
        }
    }
    for (const auto& listener : listeners) {
        listener();
    }
}
