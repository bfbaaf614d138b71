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
    // Bounds the number of allocation arenas (glibc) to kMaxArenas, once per
    // process, unless MALLOC_ARENA_MAX is set in the environment. Threads
    // then share arenas instead of each keeping freed memory of its own.
    static void LimitArenas();
    static constexpr int kMaxArenas = 2;

private:
    const std::size_t mBurst;
    std::atomic<std::size_t> mCount{0};
};
