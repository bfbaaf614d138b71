#include "platform/ipc/diagnosticsforwarder.h"
#include "platform/ipc/diagnosticssignal.h"
#include "platform/rootdir/rootdir.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

using IpcTest::CRecorder;
using IpcTest::CRunningHost;
using Sample = CDiagnosticsCommClient::SSample;
using namespace std::chrono_literals;

Sample MakeSample(std::uint32_t identifier)
{
    return {identifier, CDiagnosticsCommClient::Value(true), std::chrono::system_clock::now()};
}

TEST(DiagnosticsForwarder, UnreachableOrStuckCollectorsNeverBlockTheSenderAndOnlyTheOldestSamplesAreDropped)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> entered;
    std::atomic<int> attempts{0};
    CRecorder<std::uint32_t> delivered;
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

    forwarder.Stop();
    EXPECT_FALSE(forwarder.Enqueue(MakeSample(11)));
}

// The collector as a served process sees it.
class CCollector : public IDiagnostics, public CRecorder<Sample> {
public:
    bool SendSample(const Sample& sample) override
    {
        Add(sample);
        return true;
    }
};

TEST(DiagnosticsCommClient, SignalsTravelToTheCollectorWithTheirTypeAndTimestamp)
{
    TestSupport::CTempDir root;
    IpcTest::WriteConfiguration(root);
    CRunningHost collectorHost(root);
    auto collector = std::make_shared<CCollector>();
    collectorHost.Get()->AddService<IDiagnostics>("Diagnostics", collector);
    collectorHost.Start();

    CRunningHost daemon(root);
    CDiagnosticsCommClient::Initialize(daemon.Get());
    daemon.Start();
    EXPECT_TRUE(CDiagnosticsCommClient::IsInitialized());

    const CSignalDefinition<std::vector<std::int32_t>> temperatures(0x8b, "LTE module temperatures", {}, "°C");
    CDiagnosticsSignal<std::vector<std::int32_t>> signal(&temperatures);
    const auto at = std::chrono::system_clock::time_point(std::chrono::microseconds(1'700'000'000'123'456));
    signal.SetValue({31, -4, 40}, at);
    EXPECT_TRUE(signal.Send());
    const CSignalDefinition<std::string> event(0x5017, "Connectivity status has changed", "");
    CDiagnosticsSignal<std::string>(&event).Send("NTP server synced successfully");

    ASSERT_TRUE(collector->WaitForCount(2));
    const auto samples = collector->Values();
    EXPECT_EQ(samples[0].identifier, 0x8bu);
    EXPECT_EQ(std::get<std::vector<std::int32_t>>(samples[0].value), (std::vector<std::int32_t>{31, -4, 40}));
    EXPECT_EQ(samples[0].timestamp, at);
    EXPECT_EQ(std::get<std::string>(samples[1].value), "NTP server synced successfully");

    CDiagnosticsCommClient::Terminate();
    EXPECT_FALSE(signal.Send());
    CRootDir::Set("/");
}

} // namespace
