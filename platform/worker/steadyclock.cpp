#include "platform/worker/steadyclock.h"

#include <thread>

IClock::time_point CSteadyClock::Now() const
{
    return std::chrono::steady_clock::now();
}

void CSteadyClock::SleepFor(duration d)
{
    std::this_thread::sleep_for(d);
}

std::shared_ptr<IClock> IClock::Steady()
{
    // Workers hold their own reference, so one that outlives this static
    // at process exit keeps a valid clock.
    static const std::shared_ptr<IClock> clock = std::make_shared<CSteadyClock>();
    return clock;
}
