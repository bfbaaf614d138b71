#include "src/components/ltemodem/modem.h"

#include "platform/ipc/diagnosticscommclient.h"
#include "platform/worker/manualclock.h"
#include "src/components/ltemodem/athandler.h"
#include "tests/components/ltemodem/modemfakes.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Modem::CModem;
using ModemTest::CFakeConfig;
using ModemTest::CScriptedSerial;
using TestSupport::CLogCapture;
using Lines = std::vector<std::string>;

// Records every sysfs write as "path=value".
class CRecordingSysfs : public CSysfsAccess {
public:
    bool Write(const std::string& path, const std::string& value) override
    {
        writes.push_back(path + "=" + value);
        return true;
    }
    std::optional<std::string> Read(const std::string&) override { return std::nullopt; }
    bool Exists(const std::string&) override { return true; }
    Lines writes;
};

class ModemTest : public ::testing::Test {
protected:
    ModemTest()
    {
        CDiagnosticsCommClient::SetSink([this](const CDiagnosticsCommClient::SSample& sample) {
            mSignals[sample.identifier].push_back(sample.value);
            return true;
        });
        auto serial = std::make_unique<CScriptedSerial>();
        mSerial = serial.get();
        mSerial->open = true;
        mModem = std::make_unique<CModem>(mConfig, std::make_unique<CAtHandler>(std::move(serial), mClock),
                                          std::make_unique<CSysfsGpio>(74, mSysfs),
                                          std::make_unique<CSysfsGpio>(75, mSysfs), mClock);
    }
    ~ModemTest() override { CDiagnosticsCommClient::SetSink({}); }

    void Answer(const std::string& command, Lines lines) { mSerial->answers[command] = std::move(lines); }
    // Commands sent since the last call, without line ends.
    Lines TakeSent()
    {
        Lines sent;
        for (const auto& text : mSerial->written) {
            sent.push_back(text.substr(0, text.size() - 2));
        }
        mSerial->written.clear();
        return sent;
    }

    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    std::shared_ptr<CFakeConfig> mConfig = std::make_shared<CFakeConfig>();
    std::shared_ptr<CRecordingSysfs> mSysfs = std::make_shared<CRecordingSysfs>();
    std::map<std::uint32_t, std::vector<CDiagnosticsCommClient::Value>> mSignals; // values sent, per signal
    CScriptedSerial* mSerial = nullptr;
    std::unique_ptr<CModem> mModem;
    CLogCapture mLog;
};

// A board without a modem never pulses, so its lines are never touched.
TEST_F(ModemTest, ControlLinesAreSetUpLowAtTheFirstPulse)
{
    EXPECT_TRUE(mSysfs->writes.empty());
    auto start = mClock->Now();
    mModem->TogglePower();
    EXPECT_EQ(mClock->Now() - start, 1s);
    start = mClock->Now();
    mModem->FastShutdown();
    EXPECT_EQ(mClock->Now() - start, 100ms);
    EXPECT_EQ(mSysfs->writes, (Lines {"/sys/class/gpio/gpio74/direction=out", "/sys/class/gpio/gpio74/value=0",
                                      "/sys/class/gpio/gpio75/direction=out", "/sys/class/gpio/gpio75/value=0",
                                      "/sys/class/gpio/gpio74/value=1", "/sys/class/gpio/gpio74/value=0",
                                      "/sys/class/gpio/gpio75/value=1", "/sys/class/gpio/gpio75/value=0"}));
}

TEST_F(ModemTest, DifferingModemIsWritten)
{
    Answer("AT+QCFG=\"band\"", {"+QCFG: \"band\",0xf,0x8080085,0x8080085", "OK"});
    Answer("AT+QCFG=\"band\",0x3,0x8080085,0x8080085", {"OK"});
    Answer("AT+QCFG=\"nwscanseq\"", {"+QCFG: \"nwscanseq\",00", "OK"});
    Answer("AT+QCFG=\"nwscanseq\",020103", {"OK"});
    Answer("AT+QCFG=\"iotopmode\"", {"+QCFG: \"iotopmode\",2,1", "OK"});
    Answer("AT+QCFG=\"iotopmode\",0", {"OK"});
    // The modem's answer loses the space, so a name with one is written every time.
    Answer("AT+QICSGP=1", {"+QICSGP: 1,\"my apn\",\"u\",\"secret pw\",1", "OK"});
    Answer("AT+QICSGP=1,1,\"my apn\",\"u\",\"secret pw\",1", {"OK"});
    EXPECT_EQ(mModem->SetAvailableBands(), EAtResult::Ok);
    EXPECT_EQ(mModem->SetTechPriority(), EAtResult::Ok);
    EXPECT_EQ(mModem->ConfigureNbIot(), EAtResult::Ok);
    EXPECT_EQ(mModem->SetApn({"my apn", "u", "secret pw", "1", "1"}), EAtResult::Ok);
    EXPECT_EQ(TakeSent(), (Lines {"AT+QCFG=\"band\"", "AT+QCFG=\"band\",0x3,0x8080085,0x8080085",
                                  "AT+QCFG=\"nwscanseq\"", "AT+QCFG=\"nwscanseq\",020103", "AT+QCFG=\"iotopmode\"",
                                  "AT+QCFG=\"iotopmode\",0", "AT+QICSGP=1", "AT+QICSGP=1,1,\"my apn\",\"u\",\"secret pw\",1"}));
    for (const auto& line : mLog.Lines()) {
        EXPECT_EQ(line.text.find("secret"), std::string::npos) << line.text;
    }
}

TEST_F(ModemTest, ApnSettingsAreCheckedWhereTheyEnter)
{
    struct SCase {
        const char* name;
        std::map<EConfigKey, std::string> values;
        Lines settings; // name, user, password, auth and IP type codes; none when refused
        std::string log;
    };
    const std::string apn100(100, 'a');
    const std::string cred127(127, 'u');
    const std::string badCharacter = " value contains a double quote or a control character";
    const std::vector<SCase> cases = {
        {"defaults", {}, {"", "", "", "0", "3"}, ""},
        {"codes looked up", {{TarvLteApnAuth, "PAP or CHAP"}, {TarvLteApnIp, "IPv6"}}, {"", "", "", "3", "2"}, ""},
        {"longest values", {{TarvLteApn, apn100}, {TarvLteApnUser, cred127}, {TarvLteApnPass, cred127}},
         {apn100, cred127, cred127, "0", "3"}, ""},
        {"name too long", {{TarvLteApn, apn100 + "a"}}, {}, "APN too long, max: 100, got: 101"},
        {"user too long", {{TarvLteApnUser, cred127 + "u"}}, {}, "APN User too long, max: 127, got: 128"},
        {"password too long", {{TarvLteApnPass, cred127 + "u"}}, {}, "APN Password too long, max: 127, got: 128"},
        {"unknown IP type", {{TarvLteApnIp, "ipv4"}}, {}, "APN IP Type value 'ipv4' invalid"},
        {"unknown auth", {{TarvLteApnAuth, "MSCHAP"}}, {}, "APN Auth value 'MSCHAP' invalid"},
        {"auth with a line end", {{TarvLteApnAuth, "PAP\n[error] forged"}}, {},
         "APN Auth value 'PAP\\x0a[error] forged' invalid"},
        {"quote in the name", {{TarvLteApn, "a\",\"b"}}, {}, "APN" + badCharacter},
        {"CR in the user", {{TarvLteApnUser, "u\r\nAT+CFUN=0"}}, {}, "APN User" + badCharacter},
        {"LF in the password", {{TarvLteApnPass, "p\n"}}, {}, "APN Password" + badCharacter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mLog.Clear();
        mSignals.clear();
        mConfig->strings = c.values;
        const auto s = mModem->GetApnSettings();
        EXPECT_EQ((s ? Lines {s->apn, s->user, s->password, s->authCode, s->ipTypeCode} : Lines {}), c.settings);
        if (s) {
            EXPECT_TRUE(mSignals.empty());
        } else {
            EXPECT_TRUE(mLog.Contains(Log::error, c.log));
            EXPECT_EQ(mSignals[0x451], std::vector<CDiagnosticsCommClient::Value> {true});
        }
    }
}

// The paths the simulated SIM does not reach; PIN, PUK and attempt
// counting run against the simulator.
TEST_F(ModemTest, SimPinIsCheckedBeforeItIsSent)
{
    struct SCase {
        std::string pin;
        Lines attempts;
        EAtResult result;
        const char* log;
    };
    const char* kNotDigits = "SIM PIN in settings is not 4 to 8 decimal digits, not sent";
    const std::vector<SCase> cases = {
        {"", {}, EAtResult::SimError, "SIM PIN required, but empty in settings"},
        {"12a4", {}, EAtResult::SimError, kNotDigits},
        {"123", {}, EAtResult::SimError, kNotDigits},
        {"123456789", {}, EAtResult::SimError, kNotDigits},
        {"1234\r", {}, EAtResult::SimError, kNotDigits},
        {"1234", {"ERROR"}, EAtResult::Error, "Could not read the remaining SIM PIN attempts, PIN not sent"},
    };
    Answer("AT+CPIN?", {"+CPIN: SIM PIN", "OK"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pin);
        mConfig->strings[TarvLteSimPin] = c.pin;
        Answer("AT+QPINC=\"SC\"", c.attempts);
        EXPECT_EQ(mModem->UnlockSim(), c.result);
        EXPECT_TRUE(mLog.Contains(Log::error, c.log));
        for (const auto& sent : TakeSent()) {
            EXPECT_FALSE(sent.starts_with("AT+CPIN=")) << sent;
        }
    }
}

TEST_F(ModemTest, SignalInfo)
{
    struct SCase {
        const char* name;
        Lines quality;
        Lines network;
        EAtResult result;
        std::vector<std::int32_t> numbers; // rssi, rsrp, sinr, rsrq
        Lines texts;                       // technology, band, channel
    };
    const Lines lteInfo = {"+QNWINFO: \"eMTC\",\"26201\",\"LTE BAND 20\",6300", "OK"};
    const Lines lte = {"eMTC", "LTEBAND20", "6300"};
    const std::vector<std::int32_t> none = {-1000, -1000, -1000, -1000};
    const std::vector<SCase> cases = {
        {"LTE", {"+QCSQ: \"eMTC\",-70,-95,120,-10", "OK"}, lteInfo, EAtResult::Ok, {-70, -95, 120, -10}, lte},
        {"GSM gives only RSSI", {"+QCSQ: \"GSM\",-80", "OK"}, {"+QNWINFO: \"GSM\",\"26201\",\"GSM 900\",62", "OK"},
         EAtResult::Ok, {-80, -1000, -1000, -1000}, {"GSM", "GSM900", "62"}},
        {"LTE extras missing", {"+QCSQ: \"NBIoT\",-90", "OK"}, lteInfo, EAtResult::Ok, {-90, -1000, -1000, -1000}, lte},
        {"no service", {"+QCSQ: \"NOSERVICE\"", "OK"}, {"+QNWINFO: \"NoService\"", "OK"}, EAtResult::Ok, none,
         {"NoService", "", ""}},
        {"unknown technology", {"+QCSQ: \"WCDMA\",-70", "OK"}, lteInfo, EAtResult::Error, none, lte},
        {"not a number", {"+QCSQ: \"GSM\",strong", "OK"}, lteInfo, EAtResult::Error, none, lte},
        {"out of range", {"+QCSQ: \"GSM\",99999999999", "OK"}, lteInfo, EAtResult::Error, none, lte},
        {"network info short", {"+QCSQ: \"GSM\",-80", "OK"}, {"+QNWINFO: \"GSM\",\"26201\"", "OK"}, EAtResult::Error,
         {-80, -1000, -1000, -1000}, {"GSM", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Answer("AT+QCSQ", c.quality);
        Answer("AT+QNWINFO", c.network);
        Modem::SignalInfo info;
        info.band = "stale";
        EXPECT_EQ(mModem->GetSignalInfo(info), c.result);
        EXPECT_EQ((std::vector<std::int32_t> {info.rssi, info.rsrp, info.sinr, info.rsrq}), c.numbers);
        EXPECT_EQ((Lines {info.technology, info.band, info.channel}), c.texts);
    }
    EXPECT_TRUE(mLog.ContainsSubstring("Signal strength value out of range. Content: [GSM,99999999999], Error:"));
}

TEST_F(ModemTest, IdentityIsPublished)
{
    Answer("AT+QGMR", {"BG95M3LAR02A03_01.012.01.012", "OK"});
    Answer("AT+GSN", {"867123456789012", "OK"});
    std::string value;
    EXPECT_EQ(mModem->GetModemFirmwareVersion(value), EAtResult::Ok);
    EXPECT_EQ(value, "BG95M3LAR02A03_01.012.01.012");
    EXPECT_EQ(mModem->GetImei(value), EAtResult::Ok);
    Answer("AT+QGMR", {"EG25GGBR07A08M2G", "OK"});
    Answer("AT+QCCID", {"ERROR"});
    EXPECT_EQ(mModem->GetModemFirmwareVersion(value), EAtResult::Error);
    EXPECT_EQ(mModem->GetIccid(value), EAtResult::Error);
    EXPECT_TRUE(mLog.ContainsSubstring("AT: Invalid data. Cmd: [AT+QGMR]"));
    using V = std::vector<CDiagnosticsCommClient::Value>;
    EXPECT_EQ(mSignals[0x85], (V {std::string("BG95M3LAR02A03_01.012.01.012"), std::string("Unknown: Failed to read")}));
    EXPECT_EQ(mSignals[0x84], (V {std::string("867123456789012")}));
    EXPECT_EQ(mSignals[0x82], (V {std::string("Unknown: Failed to read")}));
}

TEST_F(ModemTest, SoftResetWaitsForTheSim)
{
    Answer("AT+CFUN=0", {"OK"});
    Answer("AT+CFUN=1", {"OK"});
    int polls = 0;
    mSerial->fallback = [&polls](const std::string&) -> Lines {
        return {++polls >= 3 ? "+QSIMSTAT: 0,1" : "+QSIMSTAT: 0,0", "OK"};
    };
    EXPECT_EQ(mModem->SoftResetModem(), EAtResult::Ok);
    EXPECT_EQ(polls, 3);
    polls = -100;
    const auto start = mClock->Now();
    EXPECT_EQ(mModem->SoftResetModem(), EAtResult::Error);
    EXPECT_GE(mClock->Now() - start, 15s);
    EXPECT_LT(mClock->Now() - start, 17s);
}

// The SIM answers busy for a while after the banner: its commands are sent
// again until it answers, for a bounded time.
TEST_F(ModemTest, SimBusyAfterTheBannerIsWaitedFor)
{
    int busy = 3;
    mSerial->fallback = [&busy](const std::string& command) -> Lines {
        if (busy > 0) {
            --busy;
            return {"+CME ERROR: 14"};
        }
        return {command == "AT+QSIMSTAT?" ? "+QSIMSTAT: 0,1" : "+QCCID: 89490200001234567890", "OK"};
    };
    EXPECT_EQ(mModem->InitializeSim(), EAtResult::Ok);
    busy = 1000;
    const auto start = mClock->Now();
    EXPECT_EQ(mModem->InitializeSim(), EAtResult::Error);
    EXPECT_GE(mClock->Now() - start, 10s);
    EXPECT_LT(mClock->Now() - start, 11s);
}

// Codes inside an answer leave it intact and are kept as events until taken.
TEST_F(ModemTest, UnsolicitedCodesBecomeEvents)
{
    Answer("AT+QTEMP", {"+CMTI: \"SM\",2", "+QTEMP: 30,31,32", "+QIURC: \"pdpdeact\",1", "OK"});
    std::vector<std::int32_t> temperatures;
    EXPECT_EQ(mModem->GetTemperatures(temperatures), EAtResult::Ok);
    EXPECT_EQ(temperatures, (std::vector<std::int32_t> {30, 31, 32}));
    auto events = mModem->TakeEvents();
    EXPECT_TRUE(events.newSms && events.contextLost && !events.restarted);
    events = mModem->TakeEvents();
    EXPECT_FALSE(events.newSms || events.contextLost);
}

} // namespace
