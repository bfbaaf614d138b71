#include "tools/modemsim/modemcontrol.h"
#include "tools/modemsim/modemsimulator.h"

#include "platform/serial/serial.h"
#include "platform/worker/manualclock.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using EPower = CModemSimulator::EPower;

// Safety net for waits on the simulator thread; never reached when it works.
constexpr auto kLimit = 10s;

// A simulator (delays x0.001, a manual clock) with its control, and the
// daemon's side of the serial line once powered.
class CControlRig {
public:
    explicit CControlRig(const std::string& scenario)
    {
        std::string error;
        mScenario = *SModemScenario::Parse(scenario, error);
        CModemSimulator::SOptions options;
        options.root = mDir.Path();
        options.timeScale = 0.001;
        options.clock = mClock;
        options.log = [](const std::string&) {};
        mSim = std::make_unique<CModemSimulator>(mScenario, options);
        mControl = std::make_unique<CModemControl>(*mSim, mScenario);
    }
    void PressPowerKey() const
    {
        const std::string path = mDir.Path() + "/sys/class/gpio/gpio74/value";
        std::ofstream(path, std::ios::trunc) << "1";
        std::ofstream(path, std::ios::trunc) << "0";
    }
    // The final answer line to a command (echo and information lines skipped).
    std::string Final(const std::string& command)
    {
        if (!mSerial) {
            mSerial = std::make_unique<CSerial>(mSim->DevicePath());
            EXPECT_TRUE(mSerial->Open());
        }
        EXPECT_TRUE(mSerial->Write(command + "\r\n"));
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (std::chrono::steady_clock::now() < deadline && mSerial->IsOpen()) {
            if (mSerial->Read(line) && (line == "OK" || line == "ERROR")) {
                return line;
            }
        }
        return "<none>";
    }

    TestSupport::CTempDir mDir;
    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    SModemScenario mScenario;
    std::unique_ptr<CModemSimulator> mSim;
    std::unique_ptr<CModemControl> mControl;
    std::unique_ptr<CSerial> mSerial;
};

constexpr const char* kOnAtOnce = R"({"timing": {"powerOnMs": 0, "appReadyMs": 0, "powerOffMs": 0}})";

TEST(ModemControl, RefusesAWholeControlWithAnyBadPartAndChangesNothing)
{
    CControlRig rig(kOnAtOnce);
    rig.PressPowerKey();
    ASSERT_TRUE(rig.mSim->WaitForPower(EPower::On, kLimit));
    const std::string fault = R"({"kind": "error", "command": "AT"})";
    for (const std::string& bad : std::vector<std::string>{"", "[]", "{\"faults\": [" + fault + "], \"sim\": {\"pin\": null}}",
                                  "{\"faults\": [" + fault + ", {\"kind\": \"sneeze\", \"command\": \"AT\"}]}",
                                  "{\"faults\": [" + fault + "], \"timing\": {\"powerOnMs\": \"soon\"}}",
                                  "{\"faults\": [" + fault + "]", "{\"timing\": {\"bootMs\": 5}}"}) {
        std::string summary;
        std::string error;
        EXPECT_FALSE(rig.mControl->Apply(bad, summary, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(rig.Final("AT"), "OK") << bad;
    }
    std::string summary;
    std::string error;
    EXPECT_FALSE(rig.mControl->ApplyFile(rig.mDir.Path() + "/missing.json", summary, error));
}

TEST(ModemControl, AddsFaultsToTheActiveOnes)
{
    CControlRig rig(R"({"timing": {"powerOnMs": 0, "appReadyMs": 0},
                        "faults": [{"kind": "error", "command": "AT+CSQ", "times": 1}]})");
    rig.PressPowerKey();
    ASSERT_TRUE(rig.mSim->WaitForPower(EPower::On, kLimit));
    std::string summary;
    std::string error;
    ASSERT_TRUE(rig.mControl->Apply(R"({"faults": [{"kind": "error", "command": "AT", "times": 2}]})", summary,
                                    error))
        << error;
    EXPECT_EQ(summary, "1 fault(s) added");
    EXPECT_EQ(rig.Final("AT"), "ERROR");
    EXPECT_EQ(rig.Final("AT"), "ERROR");
    EXPECT_EQ(rig.Final("AT"), "OK");
    // The scenario's own fault is still there.
    EXPECT_EQ(rig.Final("AT+CSQ"), "ERROR");
}

TEST(ModemControl, ReplacesOnlyTheTimingValuesItNames)
{
    CControlRig rig(kOnAtOnce);
    std::string summary;
    std::string error;
    // From now on the power-on takes 5 ms of the manual clock (x0.001).
    ASSERT_TRUE(rig.mControl->Apply(R"({"timing": {"powerOnMs": 5000}})", summary, error)) << error;
    EXPECT_EQ(summary, "0 fault(s) added, timing: power-on 5000 ms, ready 0 ms, power-off 0 ms");
    rig.PressPowerKey();
    ASSERT_TRUE(rig.mSim->WaitForPower(EPower::Booting, kLimit));
    EXPECT_EQ(rig.mSim->Power(), EPower::Booting);
    rig.mClock->Advance(5ms);
    EXPECT_TRUE(rig.mSim->WaitForPower(EPower::On, kLimit));
}

} // namespace
