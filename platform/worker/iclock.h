#pragma once
// Time source of workers and of every timed wait in the daemon. Production
// code uses CSteadyClock; tests drive a CManualClock so that a 15-minute
// timer or an hour of link flapping runs in milliseconds.

#include <chrono>
#include <functional>
#include <memory>

class IClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;
    using Listener = std::function<void()>;

    virtual ~IClock() = default;

    virtual time_point Now() const = 0;
    // Blocks the calling thread for the duration (a manual clock advances
    // itself instead, so polling loops run without real waiting).
    virtual void SleepFor(duration d) = 0;
    // Whether waits must be bounded by real time (true) or only end on a
    // notification (false: the clock moves only when a test advances it).
    virtual bool IsRealTime() const = 0;
    // Called after the clock jumped; only manual clocks ever call listeners.
    // Returns an id for RemoveListener.
    virtual int AddListener(Listener listener) = 0;
    virtual void RemoveListener(int id) = 0;

    // The process-wide real clock.
    static std::shared_ptr<IClock> Steady();
};
