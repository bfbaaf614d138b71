#include "platform/log/logthrottle.h"

std::optional<std::size_t> CLogThrottle::Allow(Clock::time_point now)
{
    std::lock_guard lock(mMutex);
    if (mLogged && now - *mLogged < mInterval) {
        ++mSuppressed;
        return std::nullopt;
    }
    mLogged = now;
    const std::size_t suppressed = mSuppressed;
    mSuppressed = 0;
    return suppressed;
}
