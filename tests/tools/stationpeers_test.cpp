#include "tests/support/tempdir.h"
#include "tools/boardcontrolsim/boardcontrolsim.h"
#include "tools/diagcollector/diagcollector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using Sample = CDiagnosticsCommClient::SSample;
using namespace std::chrono_literals;

Sample At(std::chrono::microseconds sinceEpoch, std::uint32_t id, CDiagnosticsCommClient::Value value)
{
    return Sample{id, std::move(value), std::chrono::system_clock::time_point(sinceEpoch)};
}

TEST(DiagCollector, EveryValueKindBecomesOneLineWithTheSampleTime)
{
    const struct {
        Sample sample;
        std::string line;
    } cases[] = {
        {At(1'700'000'000'123'456us, 7, true), "2023-11-14T22:13:20.123456Z 7 true"},
        {At(0us, 8, std::int32_t{-3}), "1970-01-01T00:00:00.000000Z 8 -3"},
        {At(-1us, 9, std::uint32_t{4000000000u}), "1969-12-31T23:59:59.999999Z 9 4000000000"},
        {At(0us, 10, 1.5f), "1970-01-01T00:00:00.000000Z 10 1.5"},
        // Text from the wire never breaks the one-line record.
        {At(0us, 12, std::string("a\"b\\c\nd\x7f")), "1970-01-01T00:00:00.000000Z 12 \"a\\\"b\\\\c\\x0ad\\x7f\""},
        {At(0us, 13, std::vector<float>{0.5f, -2.0f}), "1970-01-01T00:00:00.000000Z 13 [0.5,-2]"},
        {At(0us, 14, std::vector<std::string>{"x", "y z"}), "1970-01-01T00:00:00.000000Z 14 [\"x\",\"y z\"]"},
        {At(0us, 15, std::vector<std::uint32_t>{}), "1970-01-01T00:00:00.000000Z 15 []"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CDiagCollector::FormatSample(c.sample), c.line);
    }
}

TEST(DiagCollector, SamplesAreAppendedAndAnUnwritableRecordIsReported)
{
    TestSupport::CTempDir dir;
    std::ostringstream console;
    CDiagCollector collector(dir.Path() + "/record.txt", console);
    EXPECT_TRUE(collector.SendSample(At(0us, 1, true)));
    EXPECT_TRUE(collector.SendSample(At(0us, 2, false)));
    const std::string expected = "1970-01-01T00:00:00.000000Z 1 true\n1970-01-01T00:00:00.000000Z 2 false\n";
    EXPECT_EQ(dir.ReadFile("record.txt"), expected);
    EXPECT_EQ(console.str(), expected);

    CDiagCollector lost(dir.Path() + "/missing/record.txt", console);
    EXPECT_FALSE(lost.SendSample(At(0us, 3, true)));
}

TEST(BoardControlSim, RebootRequestsAreRecordedOrRefused)
{
    TestSupport::CTempDir dir;
    std::ostringstream console;
    CBoardControlSim controller(dir.Path() + "/reboots.txt", console);
    EXPECT_TRUE(controller.RebootRequest());
    EXPECT_TRUE(controller.RebootRequest());
    EXPECT_THAT(dir.ReadFile("reboots.txt"), testing::MatchesRegex("([^\n]+Z reboot requested\n){2}"));

    CBoardControlSim unrecorded(dir.Path() + "/missing/reboots.txt", console);
    EXPECT_FALSE(unrecorded.RebootRequest());
    EXPECT_THAT(console.str(), testing::MatchesRegex("([^\n]+requested\n){2}[^\n]+, refused\n"));

    controller.SendMainsLost(); // not served yet: no sender to call
}

} // namespace
