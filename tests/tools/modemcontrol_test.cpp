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

// A simulator (delays x0.001 on a manual clock, none in the scenario), off,
// and its control.
struct SRig {
    SRig()
    {
        std::string error;
        scenario = *SModemScenario::Parse(R"({"timing": {"powerOnMs": 0, "appReadyMs": 0, "powerOffMs": 0}})", error);
        const auto quiet = [](const std::string&) {};
        sim = std::make_unique<CModemSimulator>(scenario, CModemSimulator::SOptions {dir.Path(), 0.001, clock, quiet});
        control = std::make_unique<CModemControl>(*sim, scenario);
    }
    void PressPowerKey() const
    {
        std::ofstream(dir.Path() + "/sys/class/gpio/gpio74/value", std::ios::trunc) << "1";
        std::ofstream(dir.Path() + "/sys/class/gpio/gpio74/value", std::ios::trunc) << "0";
    }
    // The final answer line to a command.
    std::string Final(const std::string& command)
    {
        EXPECT_TRUE(sim->WaitForPower(EPower::On, 10s));
        if (!serial) {
            serial = std::make_unique<CSerial>(sim->DevicePath());
            EXPECT_TRUE(serial->Open());
        }
        EXPECT_TRUE(serial->Write(command + "\r\n"));
        std::string line;
        for (int reads = 0; reads < 50 && serial->IsOpen(); ++reads) {
            if (serial->Read(line) && (line == "OK" || line == "ERROR")) {
                return line;
            }
        }
        return "<none>";
    }

    TestSupport::CTempDir dir;
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    SModemScenario scenario;
    std::unique_ptr<CModemSimulator> sim;
    std::unique_ptr<CModemControl> control;
    std::unique_ptr<CSerial> serial;
};

TEST(ModemControl, AppliesOnlyAControlWithoutAnyBadPart)
{
    SRig rig;
    std::string summary, error;
    // The device now takes 5 ms of the manual clock (x0.001) to appear.
    ASSERT_TRUE(rig.control->Apply(R"({"timing": {"powerOnMs": 5000}})", summary, error)) << error;
    EXPECT_EQ(summary, "0 fault(s) added, timing: power-on 5000 ms, ready 0 ms, power-off 0 ms");
    rig.PressPowerKey();
    ASSERT_TRUE(rig.sim->WaitForPower(EPower::Booting, 10s));
    EXPECT_EQ(rig.sim->Power(), EPower::Booting);
    rig.clock->Advance(5ms);

    const std::string fault = R"({"kind": "error", "command": "AT", "times": 2})";
    for (const std::string& bad : std::vector<std::string> {
             "", "[]", "{\"faults\": [" + fault + "]", "{\"faults\": [" + fault + "], \"sim\": {\"pin\": null}}",
             "{\"faults\": [" + fault + ", {\"kind\": \"sneeze\", \"command\": \"AT\"}]}",
             "{\"faults\": [" + fault + "], \"timing\": {\"powerOnMs\": \"soon\"}}",
             "{\"faults\": [" + fault + "], \"event\": \"explode\"}"}) {
        EXPECT_FALSE(rig.control->Apply(bad, summary, error)) << bad;
        EXPECT_EQ(rig.Final("AT"), "OK") << bad;
    }
    ASSERT_TRUE(rig.control->Apply("{\"faults\": [" + fault + "]}", summary, error)) << error;
    EXPECT_EQ(rig.Final("AT"), "ERROR");
    EXPECT_EQ(rig.Final("AT"), "ERROR");
    EXPECT_EQ(rig.Final("AT"), "OK");
}

} // namespace
