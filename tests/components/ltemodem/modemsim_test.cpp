// The modem layer against the simulated modem on a real pseudo-terminal,
// powered through the GPIO files under a temporary root.

#include "src/components/ltemodem/athandler.h"
#include "src/components/ltemodem/modem.h"
#include "src/components/ltemodem/modemstatemachine.h"
#include "src/components/ltemodem/modemstatemachineimpl.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/ltemodem/modemfakes.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"
#include "tools/modemsim/modemsimulator.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace std::chrono_literals;
using Modem::CModem;

// Safety net for waits on other threads; never reached when it works.
constexpr auto kLimit = 20s;

class CStation {
public:
    explicit CStation(const SModemScenario& scenario, const std::string& pin = "")
    {
        CRootDir::Set(mDir.Root());
        const auto quiet = [](const std::string&) {};
        mSim = std::make_unique<CModemSimulator>(scenario, CModemSimulator::SOptions {mDir.Path(), 0.05, {}, quiet});
        mConfig->strings[TarvLteSimPin] = pin;
        auto sysfs = std::make_shared<CSysfsAccess>();
        // The power-key pulse needs no real second: the simulator sees every write.
        modem = std::make_shared<CModem>(
            mConfig,
            std::make_unique<CAtHandler>(std::make_unique<CSerial>(CModemSimulator::kDevicePath), IClock::Steady(),
                                         SAtTimings {.bannerTimeout = 300ms}),
            std::make_unique<CSysfsGpio>(74, sysfs), std::make_unique<CSysfsGpio>(75, sysfs),
            std::make_shared<CManualClock>());
    }
    ~CStation() { CRootDir::Set("/"); }

    void PowerOn()
    {
        modem->TogglePower();
        ASSERT_TRUE(mSim->WaitForDevice(true, kLimit));
        ASSERT_TRUE(modem->InitializeSerial());
    }
    CModemSimulator& Sim() { return *mSim; }

    std::shared_ptr<CModem> modem;

private:
    TestSupport::CTempDir mDir;
    std::shared_ptr<ModemTest::CFakeConfig> mConfig = std::make_shared<ModemTest::CFakeConfig>();
    std::unique_ptr<CModemSimulator> mSim;
};

TEST(ModemSimTest, ConfiguredModemIsEnabledWithQueriesOnly)
{
    SModemScenario scenario;
    scenario.pin = "1234";
    CStation station(scenario, "1234");
    { // The state machine runs to Enabled and is gone before the checks below.
        std::promise<void> enabled;
        auto arrived = enabled.get_future();
        CModemStateMachine machine(std::make_unique<CModemStateMachineImpl>(station.modem, 5s),
                                   std::make_shared<CWorker>("modemsm"), 20ms);
        machine.SetTargetState(EModemState::Enabled, [&enabled](bool ok) {
            if (ok) {
                enabled.set_value();
            }
        });
        ASSERT_EQ(arrived.wait_for(kLimit), std::future_status::ready);
    }
    for (const auto& command : station.Sim().Commands()) {
        for (const char* write : {"AT+QCFG=\"band\",", "AT+QCFG=\"nwscanseq\",", "AT+QCFG=\"iotopmode\",", "AT+QICSGP=1,"}) {
            EXPECT_FALSE(command.starts_with(write)) << command;
        }
    }
    Modem::SignalInfo info;
    EXPECT_EQ(station.modem->GetSignalInfo(info), EAtResult::Ok);
    EXPECT_EQ(info.rsrp, -95);
    EXPECT_TRUE(station.modem->IsSmsEnabled());
}

TEST(ModemSimTest, SimStates)
{
    struct SCase {
        const char* name;
        bool present;
        std::optional<std::string> simPin;
        int attempts;
        std::string configuredPin;
        EAtResult initialized;
        EAtResult unlocked;
        CSimCard::EState after;
    };
    const std::vector<SCase> cases = {
        {"no PIN lock", true, std::nullopt, 3, "", EAtResult::Ok, EAtResult::Ok, CSimCard::EState::Ready},
        {"PUK required", true, "1234", 0, "1234", EAtResult::Ok, EAtResult::SimError, CSimCard::EState::PukRequired},
        {"no SIM", false, std::nullopt, 3, "", EAtResult::SimError, EAtResult::Error, CSimCard::EState::Absent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SModemScenario scenario;
        scenario.simPresent = c.present;
        scenario.pin = c.simPin;
        scenario.pinAttempts = c.attempts;
        CStation station(scenario, c.configuredPin);
        station.PowerOn();
        EXPECT_EQ(station.modem->InitializeSim(), c.initialized);
        EXPECT_EQ(station.modem->UnlockSim(), c.unlocked);
        EXPECT_EQ(station.Sim().SimState(), c.after);
    }
}

// A wrong PIN is refused by the SIM, and never sent when it would lock the SIM.
TEST(ModemSimTest, WrongPinNeverUsesTheLastAttempt)
{
    TestSupport::CLogCapture log(Log::error);
    SModemScenario scenario;
    scenario.pin = "1234";
    CStation station(scenario, "4321");
    station.PowerOn();
    for (int restart = 0; restart < 4; ++restart) {
        EXPECT_EQ(station.modem->UnlockSim(), EAtResult::SimError);
    }
    EXPECT_EQ(station.Sim().SimState(), CSimCard::EState::PinRequired);
    EXPECT_EQ(station.Sim().PinAttemptsLeft(), 1);
    EXPECT_EQ(log.Count("SIM PIN not sent: 1 attempt(s) left, a wrong PIN would lock the SIM"), 2u);
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(line.text.find("4321"), std::string::npos) << line.text;
    }
}

// The fault kinds a real line adds to the channel's own tests: a truncated
// answer times out and leaves nothing behind for the next command; a device
// that vanishes mid-command is a serial error.
TEST(ModemSimTest, FaultsOnTheLineGiveDefinedResults)
{
    CStation station(SModemScenario {});
    station.PowerOn();
    for (const auto kind : {SModemFault::EKind::Truncated, SModemFault::EKind::Vanish}) {
        const bool vanish = kind == SModemFault::EKind::Vanish;
        SCOPED_TRACE(vanish ? "vanish" : "truncated");
        SModemFault fault;
        fault.kind = kind;
        fault.command = "AT+CEREG?";
        fault.times = 1;
        station.Sim().InjectFault(fault);
        Modem::ERegistrationState state;
        EXPECT_EQ(station.modem->GetLteRegistrationStatus(state), vanish ? EAtResult::SerialError : EAtResult::Timeout);
        std::string imei;
        EXPECT_EQ(station.modem->GetImei(imei), vanish ? EAtResult::Error : EAtResult::Ok);
    }
}

} // namespace
