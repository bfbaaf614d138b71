#pragma once
// Gives freed heap memory back to the system after a burst of work. The C
// library keeps what a burst freed for later reuse (on glibc in one arena
// per thread that allocated), so a process that served a flood of requests
// would otherwise stay at its peak resident size until it ends.

#include <atomic>
#include <cstddef>

class CMemoryTrim {
public:
    // burst: units of work (requests, say) that make a burst.
    explicit CMemoryTrim(std::size_t burst) : mBurst(burst) {}

    // Counts one unit of work; any thread.
    void Count() { mCount.fetch_add(1, std::memory_order_relaxed); }
    // True once at least a burst was counted since the last true answer;
    // the caller then trims when the work has ended (see Trim).
    bool Due();

    // Returns the free memory at the top of the heap and of every arena to
    // the system (a no-op where the C library offers no such call).
    static void Trim();
    // Bounds what the C library (glibc) keeps, once per process: at most
    // kMaxArenas allocation arenas unless MALLOC_ARENA_MAX is set, so that
    // threads share one heap instead of each keeping freed memory of its own
    // (the daemon's threads allocate little at a time; the per-thread caches
    // spare them most of the shared lock);
    // and fixed thresholds unless MALLOC_MMAP_THRESHOLD_/MALLOC_TRIM_THRESHOLD_
    // are set. Left to itself, glibc raises both thresholds after a large
    // block is freed (up to 32 and 64 MiB): a burst of large messages then
    // leaves megabytes at the top of an arena, which no trim reaches.
    static void BoundRetention();
    static constexpr int kMaxArenas = 1;
    // Blocks from this size on are mapped on their own and unmapped when freed.
    static constexpr int kMmapThreshold = 128 * 1024;
    // Free memory above this at the top of an arena goes back at once.
    static constexpr int kTrimThreshold = 256 * 1024;

private:
    const std::size_t mBurst;
    std::atomic<std::size_t> mCount{0};
};
