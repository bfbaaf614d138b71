#pragma once
// Keeps a complaint that may repeat without bound (a flood of refused
// requests, say) from flooding the log: the first occurrence is logged,
// later ones within the interval are only counted, and the next one logged
// after the interval carries the number left out in between.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>

class CLogThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kDefaultInterval{10};

    explicit CLogThrottle(Clock::duration interval = kDefaultInterval) : mInterval(interval) {}

    // Whether the occurrence at now is to be logged; if so, how many were
    // left out since the last logged one. Any thread.
    std::optional<std::size_t> Allow(Clock::time_point now);

private:
    const Clock::duration mInterval;
    std::mutex mMutex;                        // guards the fields below
    std::optional<Clock::time_point> mLogged; // when the last logged occurrence was
    std::size_t mSuppressed = 0;              // occurrences left out since then
};
