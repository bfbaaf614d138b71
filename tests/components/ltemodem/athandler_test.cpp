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
        mSerial->clock = mClock;
        mSerial->answers["AT"] = {"OK"};
        mHandler = std::make_unique<CAtHandler>(std::move(serial), mClock);
        mHandler->SetEventHandlers([this](const std::string& line) { mCodes.push_back(line); },
                                   [this] { ++mRestarts; });
    }

    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    CScriptedSerial* mSerial = nullptr;
    std::unique_ptr<CAtHandler> mHandler;
    CLogCapture mLog;
    Lines mCodes;
    int mRestarts = 0;
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
        mHandler->SendCommand(CAtHandler::kAttention); // in step again after the time-out before
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
    for (const bool open : {false, true}) {
        SCOPED_TRACE(open ? "write fails" : "closed");
        mSerial->open = open;
        mSerial->writeSucceeds = !open;
        const auto start = mClock->Now();
        const AtResponse response = mHandler->SendCommand(kCops);
        EXPECT_EQ(response.result, EAtResult::SerialError);
        EXPECT_TRUE(response.values.empty());
        EXPECT_LT(mClock->Now() - start, 1s);
    }
    EXPECT_TRUE(mLog.Contains(Log::error, "AT: Serial port was not opened"));
    EXPECT_TRUE(mLog.Contains(Log::error, "AT: Failed to write, serial lost! Cmd: [AT+COPS?]"));
}

// PIN arguments and message bodies (a reboot password) stay out of the log;
// the listing's entry heads show.
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
    const std::string head = "+CMGL: 1,\"REC UNREAD\",\"+100\",,\"26/01/01,12:00:00+00\"";
    for (const Lines& answer : {Lines {head, "reboot s3cret", "OK"}, Lines {head, "reboot s3cret"}}) {
        mSerial->answers["AT+CMGL=\"REC UNREAD\""] = answer;
        mHandler->SendCommand(kList);
    }
    mSerial->writeSucceeds = false;
    mHandler->SendCommand(kPin, "4711");
    EXPECT_EQ(mSerial->written.front(), "AT+CPIN=4711\r\n");
    EXPECT_TRUE(mLog.ContainsSubstring("Cmd: [AT+CPIN=<hidden>]"));
    EXPECT_TRUE(mLog.ContainsSubstring(head + "\n<hidden>\n"));
    for (const auto& line : mLog.Lines()) {
        EXPECT_EQ(line.text.find("4711"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("s3cret"), std::string::npos) << line.text;
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

// Unsolicited codes come at any point of an answer, also with the answer's
// own prefix: the answer stays what it was, and each code reaches the handler.
TEST_F(AtHandlerTest, UnsolicitedCodeAtEveryPositionOfAnAnswer)
{
    const std::vector<SExchangeCase> answers = {
        {"registration", &Cmd::kLteRegistration, {"+CEREG: 0,1", "OK"}, EAtResult::Ok, {"0", "1"}},
        {"context without prefix", &Cmd::kPdpQuery, {"+QIACT: 1,1,1,\"10.64.0.2\"", "OK"}, EAtResult::Ok,
         {"+QIACT:1", "1", "1", "10.64.0.2"}},
        {"no context", &Cmd::kPdpQuery, {"OK"}, EAtResult::Ok, {}},
        {"listing", &kList,
         {"+CMGL: 1,\"REC UNREAD\",\"+100\",,\"26/01/01,12:00:00+00\"", "reboot s3cret",
          "+CMGL: 2,\"REC UNREAD\",\"+100\",,\"26/01/01,12:00:01+00\"", "hello", "OK"},
         EAtResult::Ok, {"reboot s3cret", "hello"}},
        {"empty listing", &kList, {"OK"}, EAtResult::Ok, {}},
        {"roaming file", &Cmd::kRoamingRead, {"CONNECT", "Roaming=1", "+QFDWL: 10,1a2b", "OK"}, EAtResult::Ok,
         {"CONNECTRoaming=1+QFDWL:10", "1a2b"}},
        {"IMEI", &kImei, {"867123456789012", "OK"}, EAtResult::Ok, {"867123456789012"}},
        {"refused", &kCops, {"+CME ERROR: 30"}, EAtResult::Error, {""}},
    };
    const Lines codes = {"+CMTI: \"SM\",3", "+QIURC: \"pdpdeact\",1", "+CEREG: 1", "+CEREG: 1,\"1A2B\",\"01C3\",8",
                         "+CGREG: 5", "+CPIN: READY", "+QIND: SMS DONE", "RDY"};
    for (const auto& a : answers) {
        for (const auto& code : codes) {
            for (std::size_t at = 0; at < a.answer.size(); ++at) {
                SCOPED_TRACE(std::string(a.name) + " / " + code + " at " + std::to_string(at));
                Lines lines = a.answer;
                lines.insert(lines.begin() + static_cast<long>(at), code);
                mSerial->answers[std::string(a.command->command)] = lines;
                mCodes.clear();
                const AtResponse response = mHandler->SendCommand(*a.command);
                EXPECT_EQ(response.result, a.result);
                EXPECT_EQ(response.values, a.values);
                EXPECT_EQ(mCodes, Lines {code});
            }
        }
    }
    EXPECT_EQ(mRestarts, 0); // the channel was never initialised
}

// An answer later than its limit is taken for what it is: the next commands
// get their own answers. A modem that stays silent is probed with "AT".
TEST_F(AtHandlerTest, LateAnswerIsNeverReadAsTheNextCommands)
{
    mSerial->answers["AT+CEREG?"] = {"+CEREG: 0,5", "OK"};
    mSerial->delays["AT+CEREG?"] = 900ms;
    mSerial->answers["AT+QTEMP"] = {"+QTEMP: 31,33,29", "OK"};
    EXPECT_EQ(mHandler->SendCommand(Cmd::kLteRegistration).result, EAtResult::Timeout);
    EXPECT_EQ(mHandler->ConsecutiveTimeouts(), 1U);
    AtResponse response = mHandler->SendCommand(Cmd::kTemperatures);
    EXPECT_EQ(response.result, EAtResult::Ok);
    EXPECT_EQ(response.values, (Lines {"31", "33", "29"}));
    EXPECT_EQ(mHandler->ConsecutiveTimeouts(), 0U);
    EXPECT_TRUE(mLog.ContainsSubstring("AT: Late answer ended with [OK]"));

    // No late answer at all: a plain "AT" marks the boundary.
    mSerial->answers["AT+CEREG?"] = {};
    mSerial->written.clear();
    EXPECT_EQ(mHandler->SendCommand(Cmd::kLteRegistration).result, EAtResult::Timeout);
    response = mHandler->SendCommand(Cmd::kTemperatures);
    EXPECT_EQ(response.values, (Lines {"31", "33", "29"}));
    EXPECT_EQ(mSerial->written, (Lines {"AT+CEREG?\r\n", "AT\r\n", "AT+QTEMP\r\n"}));

    // Nor to that: the command is not sent, and the time-outs add up.
    mSerial->answers["AT"] = {};
    mSerial->written.clear();
    EXPECT_EQ(mHandler->SendCommand(Cmd::kLteRegistration).result, EAtResult::Timeout);
    EXPECT_EQ(mHandler->SendCommand(Cmd::kTemperatures).result, EAtResult::Timeout);
    EXPECT_EQ(mHandler->ConsecutiveTimeouts(), 2U);
    EXPECT_EQ(mSerial->written, (Lines {"AT+CEREG?\r\n", "AT\r\n"}));
}

// After initialisation, the banner or an echoed command shows a module that
// restarted behind the open port; the answer itself still counts.
TEST_F(AtHandlerTest, BannerOrEchoAfterInitialisationReportsARestart)
{
    mSerial->answers["ATE0"] = {"OK"};
    mSerial->answers["AT+CPIN?"] = {"+CPIN: READY", "OK"};
    mSerial->pending = {"APP RDY"};
    mSerial->open = false;
    ASSERT_TRUE(mHandler->InitializeSerial());
    EXPECT_EQ(mHandler->SendCommand(kCpin).values, Lines {"READY"});
    EXPECT_EQ(mRestarts, 0);
    mSerial->answers["AT+CPIN?"] = {"AT+CPIN?", "+CPIN: READY", "OK"};
    EXPECT_EQ(mHandler->SendCommand(kCpin).values, Lines {"READY"});
    EXPECT_EQ(mHandler->SendCommand(kCpin).values, Lines {"READY"});
    EXPECT_EQ(mRestarts, 1); // once until initialised again
    mSerial->pending = {"APP RDY"};
    ASSERT_TRUE(mHandler->InitializeSerial());
    mSerial->answers["AT+CPIN?"] = {"RDY", "+CPIN: READY", "OK"};
    EXPECT_EQ(mHandler->SendCommand(kCpin).values, Lines {"READY"});
    EXPECT_EQ(mRestarts, 2);
}

} // namespace
