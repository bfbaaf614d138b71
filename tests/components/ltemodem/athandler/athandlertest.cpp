#include "src/components/ltemodem/athandler.h"
#include "src/components/ltemodem/atanswer.h"
#include "src/components/ltemodem/modemcommands.h"

#include "platform/worker/manualclock.h"
#include "tests/components/ltemodem/modemfakes.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using ModemTest::CScriptedSerial;
using TestSupport::CLogCapture;
using Lines = std::vector<std::string>;

// The modem's own descriptors: their prefixes and validators are part of what is tested.
namespace Cmd = Modem::Commands;
const AtCommand& kCpin = Cmd::kPinStatus;
const AtCommand& kCsq = Cmd::kSignalQuality;
const AtCommand& kImei = Cmd::kImei;
const AtCommand& kCops = Cmd::kOperator;
const AtCommand& kList = Cmd::kSmsListUnread;
const AtCommand& kPin = Cmd::kPinEnter;

class AtHandlerTest : public ::testing::Test {
protected:
    AtHandlerTest()
    {
        auto serial = std::make_unique<CScriptedSerial>();
        mSerial = serial.get();
        mSerial->open = true;
        mHandler = std::make_unique<CAtHandler>(std::move(serial), mClock);
    }

    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    CScriptedSerial* mSerial = nullptr;
    std::unique_ptr<CAtHandler> mHandler;
    CLogCapture mLog;
};

struct SExchangeCase {
    const char* name;
    const AtCommand* command;
    Lines answer;
    EAtResult result;
    Lines values;
};

TEST_F(AtHandlerTest, AnswersGiveResultAndValues)
{
    const std::vector<SExchangeCase> cases = {
        {"prefixed value", &kCpin, {"", "+CPIN: READY", "", "OK"}, EAtResult::Ok, {"READY"}},
        {"validator passes IMEI", &kImei, {"867123456789012", "OK"}, EAtResult::Ok, {"867123456789012"}},
        {"validator drops every line", &kImei, {"86712345678901", "garbage", "OK"}, EAtResult::Error, {""}},
        {"OK without the prefix is invalid data", &kCpin, {"OK"}, EAtResult::Error, {""}},
        {"ERROR", &kCpin, {"ERROR"}, EAtResult::Error, {""}},
        {"CME error with content", &kCpin, {"+CPIN: SIM PIN", "+CME ERROR: 10"}, EAtResult::Error,
         {"+CPIN: SIM PIN\n"}},
        {"CMS error ends the listing", &kList, {"+CMS ERROR: 500"}, EAtResult::Error, {""}},
        {"OK inside a value is not final", &kCops, {"+COPS: 0,0,\"TOKYO OK\",8", "OK"}, EAtResult::Ok,
         {"0", "0", "TOKYOOK", "8"}},
        {"unsolicited line before the answer", &kCpin, {"+QIURC: \"pdpdeact\",1", "+CPIN: READY", "OK"},
         EAtResult::Ok, {"READY"}},
        {"binary garbage then no prefix", &kCpin, {"\x01\xff\xfe", "OK"}, EAtResult::Error, {"\x01\xff\xfe\n"}},
        {"OK with blanks around it", &kCpin, {"+CPIN: READY", " OK "}, EAtResult::Ok, {"READY"}},
        {"quiet command", &kCsq, {"+QCSQ: \"NOSERVICE\"", "OK"}, EAtResult::Ok, {"NOSERVICE"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mSerial->answers[std::string(c.command->command)] = c.answer;
        const AtResponse response = mHandler->SendCommand(*c.command);
        EXPECT_EQ(response.result, c.result);
        EXPECT_EQ(response.values, c.values);
    }
    // Failures are told apart in the log; a quiet command's success stays at debug.
    EXPECT_TRUE(mLog.Contains(Log::error, "AT: Command fail. Cmd: [AT+CPIN?], Res: [ERROR], Content: []"));
    EXPECT_TRUE(mLog.Contains(Log::debug, "AT: Cmd [AT+QCSQ], Res: [OK], Content: [+QCSQ: \"NOSERVICE\"\n]"));
}

TEST_F(AtHandlerTest, MissingAnswerTimesOutOnTheCommandsOwnLimit)
{
    struct SCase {
        const AtCommand* command;
        Lines partial;
        std::string content;
    };
    for (const auto& c : std::vector<SCase> {{&kCsq, {}, ""}, {&kCops, {"+COPS: 0,0"}, "+COPS: 0,0\n"}}) {
        SCOPED_TRACE(std::string(c.command->command));
        mSerial->answers[std::string(c.command->command)] = c.partial;
        const auto start = mClock->Now();
        const AtResponse response = mHandler->SendCommand(*c.command);
        const auto waited = mClock->Now() - start;
        EXPECT_EQ(response.result, EAtResult::Timeout);
        EXPECT_EQ(response.values, Lines {c.content});
        EXPECT_GT(waited, c.command->timeout);
        EXPECT_LE(waited, c.command->timeout + 50ms);
    }
    EXPECT_TRUE(mLog.Contains(Log::warning, "AT: Timeout. Cmd [AT+COPS?], Content: [+COPS: 0,0\n]"));
}

TEST_F(AtHandlerTest, EndlessAnswerIsBoundedAndRefused)
{
    mSerial->answers["AT+CMGL=\"REC UNREAD\""] = Lines(100, std::string(1000, 'x'));
    mSerial->answers["AT+CMGL=\"REC UNREAD\""].push_back("OK");
    const AtResponse response = mHandler->SendCommand(kList);
    EXPECT_EQ(response.result, EAtResult::Error);
    ASSERT_EQ(response.values.size(), 1u);
    EXPECT_LE(response.values[0].size(), CAtAnswer::kMaxContentBytes);
}

TEST_F(AtHandlerTest, PortProblemsGiveSerialErrorWithoutWaiting)
{
    struct SCase {
        const char* name;
        bool open;
        bool writes;
        const char* log;
    };
    const std::vector<SCase> cases = {
        {"closed", false, true, "AT: Serial port was not opened"},
        {"write fails", true, false, "AT: Failed to write, serial lost! Cmd: [AT+COPS?]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mSerial->open = c.open;
        mSerial->writeSucceeds = c.writes;
        const auto start = mClock->Now();
        const AtResponse response = mHandler->SendCommand(kCops);
        EXPECT_EQ(response.result, EAtResult::SerialError);
        EXPECT_TRUE(response.values.empty());
        EXPECT_LT(mClock->Now() - start, 1s);
        EXPECT_TRUE(mLog.Contains(Log::error, c.log));
    }
}

TEST_F(AtHandlerTest, SecretArgumentsAndAnswersNeverReachTheLog)
{
    const Lines answers[] = {{"OK"}, {"AT+CPIN=4711", "ERROR"}, {"AT+CPIN=4711"}};
    for (const auto& answer : answers) {
        mSerial->answers["AT+CPIN=4711"] = answer;
        const AtResponse response = mHandler->SendCommand(kPin, "4711");
        for (const auto& value : response.values) {
            EXPECT_EQ(value.find("4711"), std::string::npos);
        }
    }
    mSerial->writeSucceeds = false;
    mHandler->SendCommand(kPin, "4711");
    EXPECT_EQ(mSerial->written.front(), "AT+CPIN=4711\r\n");
    EXPECT_TRUE(mLog.ContainsSubstring("Cmd: [AT+CPIN=<hidden>]"));
    for (const auto& line : mLog.Lines()) {
        EXPECT_EQ(line.text.find("4711"), std::string::npos) << line.text;
    }
}

struct SInitCase {
    const char* name;
    Lines banner;
    Lines echoAnswer;
    Lines probeAnswer;
    bool openSucceeds;
    bool result;
    std::chrono::milliseconds minWait;
    const char* log;
};

TEST_F(AtHandlerTest, InitializationWaitsForBannerAndChecksEcho)
{
    const std::vector<SInitCase> cases = {
        {"banner and echo off", {"", "RDY", "APP RDY"}, {"ATE0", "OK"}, {"OK"}, true, true, 0ms,
         "AT Init: APP RDY found"},
        {"no banner: go on after 5 s", {}, {"OK"}, {"OK"}, true, true, 5000ms,
         "AT Init: APP RDY timed out, proceeding..."},
        {"echo still on", {"APP RDY"}, {"OK"}, {"AT", "OK"}, true, false, 0ms, "AT Init: Failed to disable echo"},
        {"echo command refused", {"APP RDY"}, {"ERROR"}, {"OK"}, true, false, 0ms, "AT Init: Failed to disable echo"},
        {"port does not open", {}, {}, {}, false, false, 0ms, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mLog.Clear();
        mSerial->open = false;
        mSerial->openSucceeds = c.openSucceeds;
        mSerial->pending.assign(c.banner.begin(), c.banner.end());
        mSerial->answers["ATE0"] = c.echoAnswer;
        mSerial->answers["AT"] = c.probeAnswer;
        const auto start = mClock->Now();
        EXPECT_EQ(mHandler->InitializeSerial(), c.result);
        EXPECT_GE(mClock->Now() - start, c.minWait);
        EXPECT_LT(mClock->Now() - start, c.minWait + 1s);
        if (*c.log != '\0') {
            EXPECT_TRUE(mLog.ContainsSubstring(c.log));
        }
    }
}

} // namespace
