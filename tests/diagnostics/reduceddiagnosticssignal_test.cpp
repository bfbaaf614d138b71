#include "diagnostics/reduceddiagnosticssignal.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "platform/worker/manualclock.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

constexpr CReducedDiagnosticsSignalBase<int>::Period kHour = 1h;

// Records every sample the signals send.
class ReducedSignalTest : public ::testing::Test {
protected:
    ReducedSignalTest()
    {
        CDiagnosticsCommClient::SetSink([this](const CDiagnosticsCommClient::SSample& sample) {
            mSent.push_back(sample);
            return true;
        });
    }
    ~ReducedSignalTest() override { CDiagnosticsCommClient::SetSink({}); }

    template <typename T>
    std::vector<T> SentValues() const
    {
        std::vector<T> values;
        for (const auto& sample : mSent) {
            values.push_back(std::get<T>(sample.value));
        }
        return values;
    }

    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    std::vector<CDiagnosticsCommClient::SSample> mSent;
};

} // namespace

TEST_F(ReducedSignalTest, FirstCallSendsEvenEarlyAfterBootThenThePeriodMustBeExceeded)
{
    // The clock reads less than one period since its zero point.
    auto clock = std::make_shared<CManualClock>(IClock::time_point(10min));
    CReducedDiagnosticsSignal<std::int32_t> sinr(&Signals::kLteSinr, kHour, clock);
    EXPECT_EQ(sinr.Send(10), true);
    clock->Advance(30min);
    EXPECT_EQ(sinr.Send(11), std::nullopt);
    clock->Advance(30min);
    EXPECT_EQ(sinr.Send(11), std::nullopt); // reached, not exceeded
    clock->Advance(1ms);
    EXPECT_EQ(sinr.Send(12), true);
    clock->Advance(30min); // the period runs from the last send
    EXPECT_EQ(sinr.Send(13), std::nullopt);
    EXPECT_EQ(SentValues<std::int32_t>(), (std::vector<std::int32_t>{10, 12}));
}

TEST_F(ReducedSignalTest, ThresholdsDecideWhatCountsAsAChange)
{
    CReducedDiagnosticsSignal<std::int32_t> rsrp(&Signals::kLteRsrp, kHour, mClock);
    rsrp.SetThreshold(5);
    rsrp.Send(-90);
    rsrp.Send(-94); // within the threshold
    rsrp.Send(-86); // within the threshold of the last value sent
    rsrp.Send(-85); // 5 away from -90: sent
    rsrp.Send(2147483647); // extreme values do not overflow
    EXPECT_EQ(SentValues<std::int32_t>(), (std::vector<std::int32_t>{-90, -85, 2147483647}));
    mSent.clear();

    CReducedDiagnosticsSignal<std::vector<std::int32_t>> temperatures(&Signals::kLteModuleTemperatures, kHour,
                                                                      mClock);
    temperatures.SetThreshold(3);
    temperatures.Send({40, 41, 42});
    temperatures.Send({42, 43, 40}); // every element within the threshold
    temperatures.Send({42, 43});     // length changed
    temperatures.Send({42, 46});     // one element moved by 3
    mClock->Advance(2h);
    temperatures.Send({42, 46}); // unchanged, period over
    EXPECT_EQ(SentValues<std::vector<std::int32_t>>(),
              (std::vector<std::vector<std::int32_t>>{{40, 41, 42}, {42, 43}, {42, 46}, {42, 46}}));
}

// Without period or threshold every call sends, and its outcome reaches the caller.
TEST_F(ReducedSignalTest, WithoutPeriodOrThresholdEveryCallSendsAndReports)
{
    CReducedDiagnosticsSignal<std::int32_t> strength(&Signals::kLteSignalStrength, std::nullopt, mClock);
    EXPECT_EQ(strength.Send(-70), true);
    EXPECT_EQ(strength.Send(-70), true);
    CDiagnosticsCommClient::SetSink([](const CDiagnosticsCommClient::SSample&) { return false; });
    EXPECT_EQ(strength.Send(-71), false);
}
