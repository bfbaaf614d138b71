#include "src/components/ltemodem/athandler.h"

#include "platform/log/log.h"
#include "src/components/ltemodem/atanswer.h"
#include "src/components/ltemodem/atresponseparser.h"
#include "src/components/ltemodem/atunsolicited.h"

#include <stdexcept>

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kHidden = "<hidden>";
constexpr std::string_view kListingPrefix = "+CMGL:";

// What the log may show of an answer: nothing of a secret one, only the
// entry heads of a message listing (a body may carry a password).
std::string Shown(const AtCommand& command, const std::string& content)
{
    if (command.secret) {
        return std::string(kHidden);
    }
    if (!command.bodies) {
        return content;
    }
    std::string shown;
    std::size_t start = 0;
    while (start < content.size()) {
        auto end = content.find('\n', start);
        end = end == std::string::npos ? content.size() : end + 1;
        const std::string_view line(content.data() + start, end - start);
        if (line.starts_with(kListingPrefix)) {
            shown.append(line);
        } else {
            shown.append(kHidden).push_back('\n');
        }
        start = end;
    }
    return shown;
}

bool IsBanner(const std::string& line)
{
    return line == "RDY" || line == CAtHandler::kBanner;
}

} // namespace

const AtCommand CAtHandler::kEchoOff {.command = "ATE0", .timeout = 500ms};
const AtCommand CAtHandler::kAttention {.command = "AT", .timeout = 1000ms};

CAtHandler::CAtHandler(std::unique_ptr<CSerial> serial, std::shared_ptr<IClock> clock, STimings timings)
    : mSerial(std::move(serial))
    , mClock(std::move(clock))
    , mTimings(timings)
{
    if (!mSerial || !mClock) {
        throw std::invalid_argument("CAtHandler needs a serial port and a clock");
    }
}

void CAtHandler::SetEventHandlers(UnsolicitedHandler unsolicited, RestartHandler restarted)
{
    std::lock_guard lock(mExchangeMutex);
    mUnsolicited = std::move(unsolicited);
    mRestarted = std::move(restarted);
}

unsigned CAtHandler::ConsecutiveTimeouts()
{
    return mTimeouts.load();
}

bool CAtHandler::IsSerialPresent()
{
    TLOG_FUNCTION();
    return mSerial->IsDevicePresent();
}

bool CAtHandler::InitializeSerial()
{
    TLOG_FUNCTION();
    mInitialized.store(false);
    if (!mSerial->Open()) {
        return false;
    }
    {
        std::lock_guard lock(mExchangeMutex);
        mResync = false;
        mTimeouts.store(0);
    }
    if (!WaitForReady() || !DisableEcho()) {
        return false;
    }
    mInitialized.store(true);
    TLOG_INFO("AT Init: Success, interface ready");
    return true;
}

bool CAtHandler::CloseSerial()
{
    TLOG_FUNCTION();
    // Without the exchange lock: an exchange in flight ends at once with
    // SerialError instead of holding the close back until its time limit.
    mInitialized.store(false);
    mSerial->Close();
    return !mSerial->IsOpen();
}

bool CAtHandler::ReadLine(std::string& line, std::chrono::milliseconds poll)
{
    const auto start = mClock->Now();
    mSerial->SetReadTimeout(poll);
    if (mSerial->Read(line)) {
        return true;
    }
    const auto spent = mClock->Now() - start;
    if (spent < poll) {
        mClock->SleepFor(poll - spent);
    }
    return false;
}

bool CAtHandler::WaitForReady()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mExchangeMutex);
    TLOG_INFO("AT Init: Waiting for APP RDY...");
    if (!mSerial->IsOpen()) {
        TLOG_ERROR("AT Init: Failed to open serial port");
        return false;
    }
    const auto deadline = mClock->Now() + mTimings.bannerTimeout;
    std::string line;
    while (mClock->Now() < deadline) {
        if (ReadLine(line, mTimings.bannerPoll) && line.find(kBanner) != std::string::npos) {
            TLOG_INFO("AT Init: APP RDY found");
            return true;
        }
        if (!mSerial->IsOpen()) {
            TLOG_ERROR("AT Init: Serial port lost while waiting for APP RDY");
            return false;
        }
    }
    TLOG_WARN("AT Init: APP RDY timed out, proceeding...");
    return true;
}

bool CAtHandler::DisableEcho()
{
    TLOG_FUNCTION();
    if (SendCommandInternal(kEchoOff, {}).result != EAtResult::Ok) {
        TLOG_ERROR("AT Init: Failed to disable echo");
        return false;
    }
    const AtResponse probe = SendCommandInternal(kAttention, {});
    if (probe.result != EAtResult::Ok) {
        TLOG_ERROR("AT Init: Failed to disable echo");
        return false;
    }
    for (const auto& value : probe.values) {
        if (value == "AT") {
            TLOG_ERROR("AT Init: Failed to disable echo");
            return false;
        }
    }
    return true;
}

AtResponse CAtHandler::SendCommand(const AtCommand& command)
{
    TLOG_FUNCTION();
    return SendCommandInternal(command, {});
}

AtResponse CAtHandler::SendCommand(const AtCommand& command, const std::string& arguments)
{
    TLOG_FUNCTION();
    return SendCommandInternal(command, arguments);
}

void CAtHandler::ReportRestart(const char* sign)
{
    if (!mInitialized.exchange(false)) {
        return;
    }
    TLOG_WARN("AT: {} after initialisation: the modem restarted", sign);
    if (mRestarted) {
        mRestarted();
    }
}

bool CAtHandler::TakeUnsolicited(const std::string& line, std::optional<std::string_view> expected)
{
    if (!CAtUnsolicited::IsUnsolicited(line, expected)) {
        return false;
    }
    TLOG_INFO("AT: Unsolicited [{}]", line);
    if (mUnsolicited) {
        mUnsolicited(line);
    }
    if (IsBanner(line)) {
        ReportRestart("Start-up banner");
    }
    return true;
}

void CAtHandler::DrainLocked()
{
    std::string line;
    mSerial->SetReadTimeout(0ms);
    unsigned dropped = 0;
    while (mSerial->Read(line)) {
        if (!line.empty() && !TakeUnsolicited(line, mLateExpected)) {
            ++dropped;
        }
    }
    if (dropped > 0) {
        TLOG_WARN("AT: {} stale answer line(s) dropped", dropped);
    }
    mSerial->Flush();
}

bool CAtHandler::ResynchroniseLocked()
{
    std::string line;
    const auto lateDeadline = mClock->Now() + mTimings.resyncWait;
    while (mClock->Now() < lateDeadline && mSerial->IsOpen()) {
        if (ReadLine(line, mTimings.answerPoll) && !TakeUnsolicited(line, mLateExpected) && CAtAnswer::IsFinalLine(line)) {
            TLOG_INFO("AT: Late answer ended with [{}], channel in step again", line);
            DrainLocked();
            return true;
        }
    }
    DrainLocked();
    if (!mSerial->Write(std::string(kAttention.command) + "\r\n")) {
        return false;
    }
    const auto deadline = mClock->Now() + kAttention.timeout;
    while (mClock->Now() <= deadline && mSerial->IsOpen()) {
        if (ReadLine(line, mTimings.answerPoll) && !TakeUnsolicited(line, mLateExpected) &&
            CAtAnswer::IsSuccessLine(line)) {
            TLOG_INFO("AT: Channel in step again after a time-out");
            return true;
        }
    }
    TLOG_WARN("AT: No answer to a plain AT after a time-out");
    return false;
}

AtResponse CAtHandler::SendCommandInternal(const AtCommand& command, const std::string& arguments)
{
    TLOG_FUNCTION();
    std::lock_guard lock(mExchangeMutex);
    const std::string text = std::string(command.command) + arguments;
    const std::string shown =
        command.secret && !arguments.empty() ? std::string(command.command) + std::string(kHidden) : text;
    if (!mSerial->IsOpen()) {
        TLOG_ERROR("AT: Serial port was not opened");
        return {EAtResult::SerialError, {}, {}};
    }
    if (mResync) {
        if (!ResynchroniseLocked()) {
            mTimeouts.fetch_add(1);
            TLOG_WARN("AT: Timeout. Cmd [{}] not sent, the modem does not answer", shown);
            return {EAtResult::Timeout, {std::string()}, {}};
        }
        mResync = false;
    }
    DrainLocked();
    mLateExpected.reset();
    if (!mSerial->Write(text + "\r\n")) {
        TLOG_ERROR("AT: Failed to write, serial lost! Cmd: [{}]", shown);
        return {EAtResult::SerialError, {}, {}};
    }
    return Exchange(command, text, shown);
}

AtResponse CAtHandler::Exchange(const AtCommand& command, const std::string& text, const std::string& shown)
{
    const auto deadline = mClock->Now() + command.timeout;
    CAtAnswer answer(command);
    std::string line;
    bool echoed = false;
    while (!answer.IsComplete()) {
        if (deadline < mClock->Now()) {
            const std::string content = Shown(command, answer.Content());
            TLOG_WARN("AT: Timeout. Cmd [{}], Content: [{}]", shown, content);
            mResync = true;
            mLateExpected = command.expected;
            mTimeouts.fetch_add(1);
            return {EAtResult::Timeout, {content}, {}};
        }
        if (ReadLine(line, mTimings.answerPoll)) {
            if (TakeUnsolicited(line, command.expected)) {
                continue;
            }
            // With echo off, the command coming back means the modem started
            // again; the echo is never answer content (the echo check of the
            // initialisation looks at it itself).
            if (line == text && &command != &kEchoOff && &command != &kAttention) {
                echoed = true;
                continue;
            }
            answer.AddLine(line);
        } else if (!mSerial->IsOpen()) {
            TLOG_ERROR("AT: Serial lost while waiting for the answer. Cmd: [{}]", shown);
            return {EAtResult::SerialError, {}, {}};
        }
    }
    mTimeouts.store(0);
    if (echoed) {
        ReportRestart("Command echo");
    }

    const std::string& content = answer.Content();
    const std::string shownContent = Shown(command, content);
    if (answer.Verdict() == EAtResult::Ok) {
        TLOG(command.quiet ? Log::debug : Log::info, "AT: Cmd [{}], Res: [{}], Content: [{}]", shown,
             answer.FinalLine(), shownContent);
        std::vector<std::string> values;
        if (!content.empty()) {
            auto parsed = CAtResponseParser::Parse(content, command.expected);
            if (!parsed) {
                TLOG_ERROR("Expected response string '{}' not found. Relevant data is missing.", *command.expected);
            } else {
                values = std::move(*parsed);
            }
        }
        return {EAtResult::Ok, std::move(values), answer.FinalLine()};
    }
    TLOG_ERROR("AT: {}. Cmd: [{}], Res: [{}], Content: [{}]", answer.FailureReason(), shown, answer.FinalLine(),
               shownContent);
    return {EAtResult::Error, {command.secret ? std::string(kHidden) : content}, answer.FinalLine()};
}
