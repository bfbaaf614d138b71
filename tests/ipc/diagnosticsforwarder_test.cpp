#include "platform/ipc/diagnosticsforwarder.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

using Sample = CDiagnosticsCommClient::SSample;
using namespace std::chrono_literals;

Sample MakeSample(std::uint32_t identifier)
{
    return {identifier, CDiagnosticsCommClient::Value(true), std::chrono::system_clock::now()};
}

TEST(DiagnosticsForwarder, DeliveriesNeverBlockDropTheOldestAndEndAtStop)
{
    std::promise<void> release, entered;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> attempts{0};
    IpcTest::CRecorder<std::uint32_t> delivered;
    // Unreachable for the first two attempts, then stuck on sample 1 until released.
    CDiagnosticsForwarder forwarder(
        [&](const Sample& sample) {
            if (++attempts <= 2) {
                return false;
            }
            if (sample.identifier == 1) {
                entered.set_value();
            }
            released.wait();
            delivered.Add(sample.identifier);
            return true;
        },
        {4, 1ms, 4ms});

    EXPECT_TRUE(forwarder.Enqueue(MakeSample(1)));
    entered.get_future().wait();
    for (std::uint32_t id = 2; id <= 10; ++id) {
        EXPECT_TRUE(forwarder.Enqueue(MakeSample(id)));
    }
    // Sample 1 was kept through the failed attempts and is in the collector's
    // hands; 2..6 made room for 7..10.
    EXPECT_EQ(forwarder.Dropped(), 5u);
    release.set_value();
    ASSERT_TRUE(delivered.WaitForCount(5));
    EXPECT_THAT(delivered.Values(), testing::ElementsAre(1, 7, 8, 9, 10));
    // A stopped forwarder refuses samples.
    forwarder.Stop();
    EXPECT_FALSE(forwarder.Enqueue(MakeSample(11)));
}

} // namespace
