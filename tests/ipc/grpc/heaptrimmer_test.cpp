#include "platform/ipc/grpc/heaptrimmer.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

struct SCase {
    std::string name;
    // Resident sizes in MiB as the trimmer reads them, in order (a trim
    // reads once more, after it).
    std::vector<std::size_t> sizes;
    std::vector<bool> trimmed; // per check
};

TEST(HeapTrimmerTest, TrimsOnlyWhenTheSizeGrewBeyondTheSlackSinceTheLastTrimOrItsLow)
{
    const std::vector<SCase> cases = {
        {"first check only measures", {40}, {false}},
        {"growth within the slack", {20, 21, 20}, {false, false, false}},
        {"growth beyond the slack, given back", {20, 30, 21, 21}, {false, true, false}},
        // What a trim could not give back is the new baseline: no trim at
        // every check.
        {"growth a trim cannot give back", {20, 30, 29, 29, 29}, {false, true, false, false}},
        // Growth counts from the lowest size seen, not from the first.
        {"baseline follows the size down", {30, 20, 22, 21}, {false, false, true}},
        {"size unreadable", {0, 0, 50}, {false, false, false}},
    };
    for (const auto& c : cases) {
        std::size_t next = 0;
        int trims = 0;
        IpcGrpc::CHeapTrimmer trimmer(
            IpcGrpc::CHeapTrimmer::kSlack, [&] { return next < c.sizes.size() ? c.sizes[next++] * kMiB : 0; },
            [&] { ++trims; });
        int expectedTrims = 0;
        for (std::size_t check = 0; check < c.trimmed.size(); ++check) {
            EXPECT_EQ(trimmer.Check(), c.trimmed[check]) << c.name << ", check " << check;
            expectedTrims += c.trimmed[check] ? 1 : 0;
        }
        EXPECT_EQ(trims, expectedTrims) << c.name;
    }
}

TEST(HeapTrimmerTest, ReadsTheResidentSizeOfThisProcess)
{
    EXPECT_GT(IpcGrpc::CHeapTrimmer::ResidentBytes(), 1 * kMiB);
}

} // namespace
