#include "platform/toolbox/memorytrim.h"

#include <cstdlib>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

bool CMemoryTrim::Due()
{
    std::size_t count = mCount.load(std::memory_order_relaxed);
    while (count >= mBurst) {
        if (mCount.compare_exchange_weak(count, 0, std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void CMemoryTrim::Trim()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

void CMemoryTrim::BoundRetention()
{
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] {
        if (std::getenv("MALLOC_ARENA_MAX") == nullptr) {
            ::mallopt(M_ARENA_MAX, kMaxArenas);
        }
        // Setting either threshold also ends glibc's raising of both.
        if (std::getenv("MALLOC_MMAP_THRESHOLD_") == nullptr) {
            ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
        }
        if (std::getenv("MALLOC_TRIM_THRESHOLD_") == nullptr) {
            ::mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
        }
    });
#endif
}
