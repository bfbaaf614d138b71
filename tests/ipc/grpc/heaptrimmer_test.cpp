#include "platform/ipc/grpc/heaptrimmer.h"

#include <gtest/gtest.h>

#include <vector>

TEST(HeapTrimmerTest, TrimsWhenTheSizeGrewBeyondTheSlackSinceTheLastTrimOrItsLow)
{
    // Resident sizes in MiB as read (a trim reads once more after it): the
    // first check measures; what a trim could not give back, or a lower size,
    // is the new baseline; an unreadable size (0) does nothing.
    const std::vector<std::size_t> sizes{20, 21, 30, 29, 29, 25, 27, 25, 0};
    std::size_t next = 0;
    int trims = 0;
    IpcGrpc::CHeapTrimmer trimmer(1 << 20, [&] { return sizes[next++] << 20; }, [&] { ++trims; });
    std::vector<bool> trimmed;
    while (next < sizes.size()) {
        trimmed.push_back(trimmer.Check());
    }
    EXPECT_EQ(trimmed, (std::vector<bool>{false, false, true, false, false, true, false}));
    EXPECT_EQ(trims, 2);
    EXPECT_GT(IpcGrpc::CHeapTrimmer::ResidentBytes(), 1u << 20);
}
