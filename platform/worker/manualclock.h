#pragma once
#include "platform/worker/iclock.h"

#include <map>
#include <mutex>

// A clock that moves only when told to. Advance() wakes every worker that
// waits on it; SleepFor() advances the clock by the sleep instead of blocking.
class CManualClock final : public IClock {
public:
    // Starts at an arbitrary, large time point (well past the clock's epoch).
    CManualClock();
    explicit CManualClock(time_point start);

    time_point Now() const override;
    void SleepFor(duration d) override;
    bool IsRealTime() const override { return false; }
    int AddListener(Listener listener) override;
    void RemoveListener(int id) override;

    void Advance(duration d);
    void Set(time_point t);

private:
    void Notify();

    mutable std::mutex mMutex;           // guards mNow, mListeners, mNextId
    time_point mNow;
    std::map<int, Listener> mListeners;
    int mNextId = 1;
    std::mutex mNotifyMutex;             // serialises listener calls against removal
};
