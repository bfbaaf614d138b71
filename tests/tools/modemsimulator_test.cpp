#include "tools/modemsim/modemsimulator.h"
#include "tools/modemsim/modemcontrol.h"

#include "platform/serial/serial.h"
#include "platform/worker/manualclock.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// Safety net for waits on the simulator thread; never reached when it works.
constexpr auto kLimit = 10s;

bool IsFinal(const std::string& line)
{
    return line == "OK" || line == "ERROR" || line.rfind("+CME ERROR:", 0) == 0 || line.rfind("+CMS ERROR:", 0) == 0;
}

// A simulator under a temporary root and the daemon's side of its serial line.
class CRig {
public:
    explicit CRig(const std::string& scenario, std::shared_ptr<IClock> clock = nullptr)
    {
        const auto log = [this](const std::string& line) {
            std::lock_guard lock(mLogMutex);
            mLog += line + "\n";
        };
        mSim = std::make_unique<CModemSimulator>(scenario, CModemSimulator::SOptions {mDir.Path(), 0.001, clock, log});
    }

    CModemSimulator& Sim() { return *mSim; }

    void Pulse(int gpio) const
    {
        const std::string path = mDir.Path() + "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value";
        std::ofstream(path, std::ios::trunc) << "1";
        std::ofstream(path, std::ios::trunc) << "0";
    }

    // Powers on, opens the device and switches echo off.
    void Start()
    {
        Pulse(CModemSimulator::kPowerKeyGpio);
        ASSERT_TRUE(mSim->WaitForReady(kLimit));
        Open();
        ASSERT_THAT(ReadUntil("APP RDY"), testing::Contains("APP RDY"));
        ASSERT_EQ(Exchange("ATE0"), (Lines {"ATE0", "OK"}));
    }

    // The non-empty lines read up to and including wanted (or until the limit).
    Lines ReadUntil(const std::string& wanted)
    {
        Lines seen;
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (line != wanted && mSerial->IsOpen() && std::chrono::steady_clock::now() < deadline) {
            if (mSerial->Read(line) && !line.empty()) {
                seen.push_back(line);
            }
        }
        return seen;
    }

    // Switches the modem off and on again.
    void Cycle()
    {
        Pulse(CModemSimulator::kPowerKeyGpio);
        ASSERT_TRUE(mSim->WaitForDevice(false, kLimit));
        Start();
    }

    void Open()
    {
        mSerial = std::make_unique<CSerial>(mSim->DevicePath());
        ASSERT_TRUE(mSerial->Open());
    }

    CSerial& Serial() { return *mSerial; }

    // Sends one command; the non-empty lines up to and including the final one.
    Lines Exchange(const std::string& command, std::size_t finals = 1)
    {
        Lines lines;
        if (!mSerial->Write(command + "\r\n")) {
            return {"<write failed>"};
        }
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        std::string line;
        while (std::chrono::steady_clock::now() < deadline && mSerial->IsOpen()) {
            if (mSerial->Read(line) && !line.empty()) {
                lines.push_back(line);
                if (IsFinal(line) && --finals == 0) {
                    break;
                }
            }
        }
        return lines;
    }

    std::string LogText()
    {
        std::lock_guard lock(mLogMutex);
        return mLog;
    }

private:
    TestSupport::CTempDir mDir;
    std::mutex mLogMutex;
    std::string mLog; // the simulator's log lines; guarded by mLogMutex
    std::unique_ptr<CModemSimulator> mSim;
    std::unique_ptr<CSerial> mSerial;
};

SModemFault Fault(SModemFault::EKind kind, std::string command, void (*tweak)(SModemFault&) = nullptr)
{
    SModemFault fault;
    fault.kind = kind;
    fault.command = std::move(command);
    if (tweak != nullptr) {
        tweak(fault);
    }
    return fault;
}

const std::string kUnlocked = R"({"sim": {"pin": null}, "network": {"registration": [{"at": 0, "lte": 1}]}})";

// Each scenario gets its commands in turn; "<cycle>" switches the modem off
// and on again. Neither the log nor the command record shows a secret.
TEST(ModemSimulator, ScenariosAnswerInTheModemsFormats)
{
    const struct {
        const char* name;
        std::string scenario;
        std::vector<std::pair<std::string, Lines>> steps;
        std::vector<std::string> secrets;
    } cases[] = {
        {"command set",
         R"({"sim": {"pin": null}, "network": {"registration": [{"at": 0, "lte": 5, "gsm": 1}]},
             "sms": [{"from": "+49", "time": "t1", "text": "first"}, {"from": "+48", "time": "t2", "text": "second"}]})",
         {
             {"at+gsn", {"866123456789012", "OK"}}, {"AT+CPIN=1234", {"+CME ERROR: 3"}},
             {"AT+QCCID", {"+QCCID: 89490200001234567890", "OK"}}, {"AT+CIMI", {"262011234567890", "OK"}},
             {"AT+COPS?", {"+COPS: 0,0,\"Carrier\",8", "OK"}},
             {"AT+QCFG=\"nwscanseq\",0301", {"OK"}}, {"AT+QCFG=\"nwscanseq\"", {"+QCFG: \"nwscanseq\",0301", "OK"}},
             {"AT+QCFG=\"iotopmode\",2,1", {"OK"}}, {"AT+QCFG=\"iotopmode\"", {"+QCFG: \"iotopmode\",2", "OK"}},
             {"AT+QCFG=\"band\",0x3,0x80,0x8080085", {"OK"}},
             {"AT+QCFG=\"band\"", {"+QCFG: \"band\",0x3,0x80,0x8080085", "OK"}},
             {"AT+QCFG=\"simeffect\",1", {"OK"}}, {"AT+QCFG=\"simeffect\"", {"+QCFG: \"simeffect\",1", "OK"}},
             {"AT+QICSGP=1,1,\"web.apn\",\"user\",\"pw\",2", {"OK"}},
             {"AT+QICSGP=1", {"+QICSGP: 1,\"web.apn\",\"user\",\"pw\",2", "OK"}},
             {"AT+QIACT?", {"OK"}}, {"AT+QIACT=1", {"OK"}}, {"AT+QIACT=1", {"ERROR"}},
             {"AT+CMGL=\"REC UNREAD\"", {"+CMS ERROR: 302"}}, {"AT+CMGF?", {"+CMGF: 0", "OK"}}, {"AT+CMGF=1", {"OK"}},
             {"AT+CPMS=\"SM\",\"SM\",\"SM\"", {"+CPMS: 2,50,2,50,2,50", "OK"}},
             {"AT+CMGR=2", {"+CMGR: \"REC UNREAD\",\"+48\",,\"t2\"", "second", "OK"}},
             {"AT+CMGL=\"REC UNREAD\"", {"+CMGL: 1,\"REC UNREAD\",\"+49\",,\"t1\"", "first", "OK"}},
             {"AT+CMGL=\"REC UNREAD\"", {"OK"}}, {"AT+CMGD=1", {"OK"}},
             {"AT+CMGL=\"ALL\"", {"+CMGL: 2,\"REC READ\",\"+48\",,\"t2\"", "second", "OK"}}, {"AT+CMGD=1,4", {"OK"}},
             {"AT+CPMS=\"SM\",\"SM\",\"SM\"", {"+CPMS: 0,50,0,50,0,50", "OK"}},
             {"AT+QFDEL=\"eufs:/datatx/qcmap_config\"", {"OK"}},
             {"AT+QFDWL=\"eufs:/datatx/qcmap_config\"", {"+CME ERROR: 405"}},
             // Radio off, then on again.
             {"AT+CFUN=0", {"OK"}}, {"AT+CEREG?", {"+CEREG: 0,0", "OK"}}, {"AT+QSIMSTAT?", {"+QSIMSTAT: 0,0", "OK"}},
             {"AT+QCSQ", {"+QCSQ: \"NOSERVICE\"", "OK"}}, {"AT+QNWINFO", {"+QNWINFO: No Service", "OK"}},
             {"AT+COPS?", {"+COPS: 0", "OK"}}, {"AT+QIACT?", {"OK"}},
             {"AT+CFUN=1", {"OK"}}, {"AT+CFUN?", {"+CFUN: 1", "OK"}}, {"AT+QSIMSTAT?", {"+QSIMSTAT: 0,1", "OK"}},
             // An overlong line is refused and forgotten.
             {"AT+" + std::string(CModemSimulator::kMaxCommandLength * 2, 'A'), {"ERROR"}}, {"AT", {"OK"}},
         },
         {}},
        {"SIM absent",
         R"({"sim": {"present": false}})",
         {{"AT+QCCID", {"+CME ERROR: 10"}}, {"AT+CPMS=\"SM\",\"SM\",\"SM\"", {"+CMS ERROR: 310"}},
          {"AT+CEREG?", {"+CEREG: 0,0", "OK"}}},
         {}},
        // The attempt counter lives on the card: a power cycle does not restore it.
        {"wrong PINs lock the SIM behind its PUK",
         R"({"sim": {"pin": "4321", "puk": "87654321"}})",
         {
             {"AT+CPIN?", {"+CPIN: SIM PIN", "OK"}}, {"AT+CIMI", {"+CME ERROR: 11"}},
             {"AT+CPIN=\"12ab\"", {"+CME ERROR: 16"}}, // malformed: costs no attempt
             {"AT+QPINC=\"SC\"", {"+QPINC: \"SC\",3,10", "OK"}},
             {"AT+CPIN=1111", {"+CME ERROR: 16"}}, {"AT+CPIN=2222", {"+CME ERROR: 16"}},
             {"AT+QPINC?", {"+QPINC: \"SC\",1,10", "+QPINC: \"P2\",3,10", "OK"}},
             {"<cycle>", {}}, {"AT+QPINC=\"SC\"", {"+QPINC: \"SC\",1,10", "OK"}},
             {"AT+CPIN=3333", {"+CME ERROR: 16"}}, {"AT+CPIN?", {"+CPIN: SIM PUK", "OK"}},
             {"AT+CPIN=4321", {"+CME ERROR: 12"}}, {"AT+CPIN=11111111,1234", {"+CME ERROR: 16"}},
             {"AT+QPINC=\"SC\"", {"+QPINC: \"SC\",0,9", "OK"}}, {"AT+CPIN=87654321,1234", {"OK"}},
             {"AT+CPIN?", {"+CPIN: READY", "OK"}}, {"AT+QPINC=\"SC\"", {"+QPINC: \"SC\",3,10", "OK"}},
         },
         {"4321", "1111", "3333", "87654321", "11111111"}},
        // Booted without its roaming file, the modem writes the default one;
        // the stored network mode survives the power cycle.
        {"stored settings",
         R"({"sim": {"pin": null}, "config": {"usbnet": "rmnet"}, "roaming": {"file": "Roaming=0\n"}})",
         {{"AT+QCFGEXT=\"usbnet\",\"ecm\"", {"OK"}}, {"AT+QFDEL=\"eufs:/datatx/qcmap_config\"", {"OK"}},
          {"<cycle>", {}}, {"AT+QCFGEXT=\"usbnet\"", {"+QCFGEXT: \"usbnet\",\"ecm\"", "OK"}},
          {"AT+QFDWL=\"eufs:/datatx/qcmap_config\"", {"CONNECT", "Roaming=1", "+QFDWL: 10,0c5b", "OK"}}},
         {}},
        {"faults stop after their count",
         R"({"sim": {"pin": null}, "faults": [{"kind": "error", "command": "AT+QTEMP", "times": 2},
                                              {"kind": "cme-error", "prefix": "AT+QCS", "code": 4}]})",
         {{"AT+QTEMP", {"ERROR"}}, {"AT+QTEMP", {"ERROR"}}, {"AT+QTEMP", {"+QTEMP: 31,33,29", "OK"}},
          {"AT+QCSQ", {"+CME ERROR: 4"}}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CRig rig(c.scenario);
        rig.Start();
        for (const auto& [command, answer] : c.steps) {
            if (command == "<cycle>") {
                rig.Cycle();
            } else {
                EXPECT_EQ(rig.Exchange(command), answer) << command.substr(0, 40);
            }
        }
        const std::string log = rig.LogText();
        for (const auto& secret : c.secrets) {
            EXPECT_EQ(log.find(secret), std::string::npos) << secret;
        }
        for (const auto& command : rig.Sim().Commands()) {
            EXPECT_TRUE(command.rfind("AT+CPIN=", 0) != 0 || command == "AT+CPIN=***") << command;
        }
    }
}

TEST(ModemSimulator, PowerLinesAndVanishingSwitchTheDeviceAndEchoStaysOnUntilAte0)
{
    CRig rig(kUnlocked);
    EXPECT_FALSE(std::filesystem::exists(rig.Sim().DevicePath()));
    rig.Start(); // the banner, then echo until ATE0
    // A device that vanishes on a command stays away until power-cycled.
    rig.Sim().InjectFault(Fault(SModemFault::EKind::Vanish, "AT+CEREG?", [](SModemFault& f) { f.times = 1; }));
    EXPECT_EQ(rig.Exchange("AT+CEREG?"), Lines {});
    EXPECT_FALSE(std::filesystem::exists(rig.Sim().DevicePath()));
    rig.Cycle();
    EXPECT_EQ(rig.Exchange("AT+CEREG?"), (Lines {"+CEREG: 0,1", "OK"}));
    std::string line;
    rig.Pulse(CModemSimulator::kPowerKeyGpio);
    ASSERT_TRUE(rig.Sim().WaitForDevice(false, kLimit));
    EXPECT_EQ(rig.Sim().Power(), CModemSimulator::EPower::Off);
    EXPECT_FALSE(std::filesystem::exists(rig.Sim().DevicePath()));
    // The open port sees the hang-up of an unplugged device.
    EXPECT_FALSE(rig.Serial().Read(line));
    EXPECT_FALSE(rig.Serial().IsOpen());

    // Powered on again: echo is back on.
    rig.Pulse(CModemSimulator::kPowerKeyGpio);
    ASSERT_TRUE(rig.Sim().WaitForReady(kLimit));
    rig.Open();
    EXPECT_EQ(rig.Exchange("AT"), (Lines {"APP RDY", "AT", "OK"}));

    // The fast-shutdown line acts only once enabled.
    rig.Pulse(CModemSimulator::kFastShutdownGpio);
    EXPECT_EQ(rig.Exchange("AT+QCFG=\"fast/poweroff\",25,1"), (Lines {"AT+QCFG=\"fast/poweroff\",25,1", "OK"}));
    rig.Pulse(CModemSimulator::kFastShutdownGpio);
    EXPECT_TRUE(rig.Sim().WaitForDevice(false, kLimit));
    EXPECT_EQ(rig.Sim().Power(), CModemSimulator::EPower::Off);
}

TEST(ModemSimulator, InjectedFaultsShapeTheAnswer)
{
    using EKind = SModemFault::EKind;
    const struct {
        const char* name;
        SModemFault fault;
        Lines answers; // to the faulted AT+CEREG?, then to a plain AT
    } cases[] = {
        // No answer: the next command's answer comes with nothing before it.
        {"timeout", Fault(EKind::Timeout, "AT+CEREG?"), {"OK"}},
        {"error", Fault(EKind::Error, "AT+CEREG?"), {"ERROR", "OK"}},
        {"cme", Fault(EKind::CmeError, "AT+CEREG?", [](SModemFault& f) { f.cmeCode = 30; }), {"+CME ERROR: 30", "OK"}},
        {"truncated", Fault(EKind::Truncated, "AT+CEREG?"), {"+CEREG: 0,1", "OK"}},
        {"unsolicited", Fault(EKind::Unsolicited, "AT+CEREG?", [](SModemFault& f) { f.text = "+QIURC: \"pdpdeact\",1"; }),
         {"+QIURC: \"pdpdeact\",1", "+CEREG: 0,1", "OK", "OK"}},
        {"garbage then answer", Fault(EKind::Garbage, "AT+CEREG?", [](SModemFault& f) { f.text = "#garbage#\r\n"; f.thenAnswer = true; }),
         {"#garbage#", "+CEREG: 0,1", "OK", "OK"}},
        {"by prefix", Fault(EKind::Error, "AT+CE", [](SModemFault& f) { f.prefix = true; }), {"ERROR", "OK"}},
        {"skipped once", Fault(EKind::Error, "AT+CEREG?", [](SModemFault& f) { f.skip = 1; }),
         {"+CEREG: 0,1", "OK", "OK"}},
        {"other command", Fault(EKind::Error, "AT+CGREG?"), {"+CEREG: 0,1", "OK", "OK"}},
        // The reader drops the overlong line; the next answer still arrives.
        {"endless line", Fault(EKind::Endless, "AT+CEREG?", [](SModemFault& f) { f.endlessBytes = 5000; }), {"OK"}},
    };
    for (const auto& c : cases) {
        CRig rig(kUnlocked);
        rig.Start();
        rig.Sim().InjectFault(c.fault);
        // Both commands go out before any answer is read.
        ASSERT_TRUE(rig.Serial().Write("AT+CEREG?\r\n"));
        EXPECT_EQ(rig.Exchange("AT", std::count_if(c.answers.begin(), c.answers.end(), IsFinal)), c.answers) << c.name;
    }
}

TEST(ModemSimulator, DeviceMissingAfterPowerOnForTheConfiguredPowerOns)
{
    using EPower = CModemSimulator::EPower;
    auto clock = std::make_shared<CManualClock>();
    CRig rig(R"({"deviceMissingPowerOns": 1, "timing": {"powerOnMs": 1000, "appReadyMs": 0, "powerOffMs": 0}})",
             clock);
    rig.Pulse(CModemSimulator::kPowerKeyGpio);
    ASSERT_TRUE(rig.Sim().WaitForPower(EPower::Booting, kLimit));
    // Scaled by 0.001, the power-on takes 1 ms of the manual clock.
    clock->Advance(1ms);
    ASSERT_TRUE(rig.Sim().WaitForPower(EPower::OnNoDevice, kLimit));
    EXPECT_FALSE(std::filesystem::exists(rig.Sim().DevicePath()));
    rig.Pulse(CModemSimulator::kPowerKeyGpio);
    ASSERT_TRUE(rig.Sim().WaitForPower(EPower::Off, kLimit));
    rig.Pulse(CModemSimulator::kPowerKeyGpio);
    ASSERT_TRUE(rig.Sim().WaitForPower(EPower::Booting, kLimit));
    clock->Advance(1ms);
    ASSERT_TRUE(rig.Sim().WaitForPower(EPower::On, kLimit));
    EXPECT_TRUE(std::filesystem::exists(rig.Sim().DevicePath()));
}

TEST(ModemSimulator, RegistrationAndDelayedAnswersFollowTheClock)
{
    auto clock = std::make_shared<CManualClock>();
    CRig rig(R"({"sim": {"pin": null}, "timing": {"powerOnMs": 0, "appReadyMs": 0},
                 "faults": [{"kind": "delay", "command": "AT+QTEMP", "delayMs": 5000}],
                 "network": {"registration": [{"at": 0, "lte": 2, "gsm": 2}, {"at": 10, "lte": 3, "gsm": 1},
                                              {"at": 20, "lte": 1, "gsm": 0}, {"at": 30, "lte": 2, "gsm": 0}]}})",
             clock);
    rig.Start();
    const auto scenarioSeconds = [](int s) { return std::chrono::milliseconds(s); }; // at scale 0.001
    EXPECT_EQ(rig.Exchange("AT+CEREG?"), (Lines {"+CEREG: 0,2", "OK"}));
    EXPECT_EQ(rig.Exchange("AT+QIACT=1"), (Lines {"ERROR"}));
    clock->Advance(scenarioSeconds(10));
    EXPECT_EQ(rig.Exchange("AT+CEREG?"), (Lines {"+CEREG: 0,3", "OK"}));
    EXPECT_EQ(rig.Exchange("AT+QCSQ"), (Lines {"+QCSQ: \"GSM\",-71", "OK"}));
    EXPECT_EQ(rig.Exchange("AT+COPS?"), (Lines {"+COPS: 0,0,\"Carrier\",0", "OK"}));
    clock->Advance(scenarioSeconds(10));
    EXPECT_EQ(rig.Exchange("AT+CGREG?"), (Lines {"+CGREG: 0,0", "OK"}));
    EXPECT_EQ(rig.Exchange("AT+QIACT=1"), (Lines {"OK"}));
    // Losing the network drops the data context.
    clock->Advance(scenarioSeconds(10));
    EXPECT_EQ(rig.Exchange("AT+QIACT?"), (Lines {"OK"}));
    // The radio switched on again restarts the timeline.
    EXPECT_EQ(rig.Exchange("AT+CFUN=4"), (Lines {"OK"}));
    EXPECT_EQ(rig.Exchange("AT+CFUN=1"), (Lines {"OK"}));
    EXPECT_EQ(rig.Exchange("AT+CEREG?"), (Lines {"+CEREG: 0,2", "OK"}));
    // A delayed answer keeps the order of the answers behind it.
    const auto received = rig.Sim().Commands().size();
    ASSERT_TRUE(rig.Serial().Write("AT+QTEMP\r\nAT\r\n"));
    ASSERT_TRUE(rig.Sim().WaitForCommands(received + 2, kLimit));
    clock->Advance(scenarioSeconds(5));
    EXPECT_EQ(rig.Exchange("AT+CFUN?", 3), (Lines {"+QTEMP: 31,33,29", "OK", "OK", "+CFUN: 1", "OK"}));
}

// What a module does on its own: the SIM busy after the banner, a code at any
// position inside an answer, a reset that keeps the device, switching itself off.
TEST(ModemSimulator, WhatAModuleDoesOnItsOwn)
{
    CRig rig(R"({"sim": {"pin": null}, "timing": {"simReadyMs": 1000000}})");
    rig.Start();
    EXPECT_EQ(rig.Exchange("AT+CPIN?"), (Lines {"+CME ERROR: 14"}));
    EXPECT_EQ(rig.ReadUntil("+CPIN: READY"), Lines {"+CPIN: READY"});
    EXPECT_EQ(rig.Exchange("AT+CPIN?"), (Lines {"+CPIN: READY", "OK"}));

    for (const int position : {0, 1, 7}) {
        SModemFault fault = Fault(SModemFault::EKind::Unsolicited, "AT+CEREG?");
        fault.text = "+CEREG: 1";
        fault.position = position;
        fault.times = 1;
        rig.Sim().InjectFault(fault);
        Lines expected = {"+CEREG: 0,1", "OK"};
        expected.insert(expected.begin() + std::min(position, 1), "+CEREG: 1");
        EXPECT_EQ(rig.Exchange("AT+CEREG?"), expected) << position;
    }

    rig.Sim().ResetKeepingDevice();
    EXPECT_EQ(rig.ReadUntil("APP RDY"), (Lines {"RDY", "APP RDY"}));
    EXPECT_EQ(rig.Exchange("AT"), (Lines {"AT", "OK"})); // echo is on again
    EXPECT_EQ(rig.Exchange("AT+QCCID"), (Lines {"AT+QCCID", "+CME ERROR: 14"}));

    rig.Sim().SwitchOffByItself();
    ASSERT_TRUE(rig.Sim().WaitForDevice(false, kLimit));
    EXPECT_EQ(rig.Sim().Power(), CModemSimulator::EPower::Off);
    rig.Pulse(CModemSimulator::kPowerKeyGpio); // one pulse switches it on
    EXPECT_TRUE(rig.Sim().WaitForDevice(true, kLimit));
}

TEST(ModemControl, AppliesOnlyAControlWithoutAnyBadPart)
{
    const std::string quick = R"({"timing": {"powerOnMs": 0, "appReadyMs": 0, "powerOffMs": 0}})";
    std::string summary, error;
    auto clock = std::make_shared<CManualClock>();
    CRig rig(quick, clock);
    CModemControl control(rig.Sim(), *SModemScenario::Parse(quick, error));
    // The device now takes 5 ms of the manual clock (x0.001) to appear.
    ASSERT_TRUE(control.Apply(R"({"timing": {"powerOnMs": 5000}})", summary, error)) << error;
    EXPECT_EQ(summary, "0 fault(s) added, timing: power-on 5000 ms, ready 0 ms, power-off 0 ms");
    rig.Pulse(CModemSimulator::kPowerKeyGpio);
    ASSERT_TRUE(rig.Sim().WaitForPower(CModemSimulator::EPower::Booting, kLimit));
    EXPECT_EQ(rig.Sim().Power(), CModemSimulator::EPower::Booting);
    clock->Advance(5ms);
    ASSERT_TRUE(rig.Sim().WaitForPower(CModemSimulator::EPower::On, kLimit));
    rig.Open();
    const auto final = [&rig] {
        const Lines lines = rig.Exchange("AT");
        return lines.empty() ? std::string("<none>") : lines.back();
    };

    const std::string fault = R"({"kind": "error", "command": "AT", "times": 2})";
    for (const std::string& bad : std::vector<std::string> {
             "", "[]", "{\"faults\": [" + fault + "]", "{\"faults\": [" + fault + "], \"sim\": {\"pin\": null}}",
             "{\"faults\": [" + fault + ", {\"kind\": \"sneeze\", \"command\": \"AT\"}]}",
             "{\"faults\": [" + fault + "], \"timing\": {\"powerOnMs\": \"soon\"}}",
             "{\"faults\": [" + fault + "], \"event\": \"explode\"}"}) {
        EXPECT_FALSE(control.Apply(bad, summary, error)) << bad;
        EXPECT_EQ(final(), "OK") << bad;
    }
    ASSERT_TRUE(control.Apply("{\"faults\": [" + fault + "]}", summary, error)) << error;
    EXPECT_EQ(final(), "ERROR");
    EXPECT_EQ(final(), "ERROR");
    EXPECT_EQ(final(), "OK");
}

TEST(ModemScenario, RefusesBadScenariosWithTheOffendingKey)
{
    const struct {
        const char* json;
        const char* error;
    } cases[] = {
        {"{", "invalid JSON"},
        {R"({"sim": {"pim": "1234"}})", "sim.pim: unknown key"},
        {R"({"sim": {"pin": "12a4"}})", "sim.pin: 4 to 8 decimal digits"},
        {R"({"sim": {"pin": 1234}})", "sim.pin: text expected"},
        {R"({"config": {"bands": ["0x3", "3", "0x1"]}})", "config.bands"},
        {R"({"apn": {"password": "a\"b"}})", "apn.password"},
        {R"({"network": {"registration": [{"at": 5}, {"at": 1}]}})", "time order"},
        {R"({"network": {"registration": [{"lte": 6}]}})", "network.registration[0].lte"},
        {R"({"faults": [{"kind": "explode", "command": "AT"}]})", "faults[0].kind"},
        {R"({"faults": [{"kind": "error"}]})", "exactly one of command and prefix"},
        {R"({"timing": {"powerOnMs": -1}})", "timing.powerOnMs"},
        {R"({"sms": [{"text": "a\r\nOK"}]})", "sms[0].text"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(SModemScenario::Parse(c.json, error)) << c.json;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.json << " -> " << error;
    }
    EXPECT_THROW(CModemSimulator("{\"x\": 1}", {}), std::invalid_argument);
}

TEST(ModemScenario, ShippedScenariosLoad)
{
    for (const auto& entry : std::filesystem::directory_iterator(TARV_MODEMSIM_SCENARIOS)) {
        std::string error;
        EXPECT_TRUE(SModemScenario::Load(entry.path().string(), error)) << error;
    }
}

} // namespace
