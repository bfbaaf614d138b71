#include "src/components/ltemodem/athandler.h"

#include "platform/log/log.h"
#include "src/components/ltemodem/atanswer.h"
#include "src/components/ltemodem/atresponseparser.h"

#include <stdexcept>

namespace {

using namespace std::chrono_literals;

constexpr std::string_view kHidden = "<hidden>";

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

bool CAtHandler::IsSerialPresent()
{
    TLOG_FUNCTION();
    return mSerial->IsDevicePresent();
}

bool CAtHandler::InitializeSerial()
{
    TLOG_FUNCTION();
    if (!mSerial->Open()) {
        return false;
    }
    if (!WaitForReady() || !DisableEcho()) {
        return false;
    }
    TLOG_INFO("AT Init: Success, interface ready");
    return true;
}

bool CAtHandler::CloseSerial()
{
    TLOG_FUNCTION();
    // Without the exchange lock: an exchange in flight ends at once with
    // SerialError instead of holding the close back until its time limit.
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

AtResponse CAtHandler::SendCommandInternal(const AtCommand& command, const std::string& arguments)
{
    TLOG_FUNCTION();
    std::lock_guard lock(mExchangeMutex);
    const std::string text = std::string(command.command) + arguments;
    const std::string shown =
        command.secret && !arguments.empty() ? std::string(command.command) + std::string(kHidden) : text;
    if (!mSerial->IsOpen()) {
        TLOG_ERROR("AT: Serial port was not opened");
        return {EAtResult::SerialError, {}};
    }
    mSerial->Flush();
    if (!mSerial->Write(text + "\r\n")) {
        TLOG_ERROR("AT: Failed to write, serial lost! Cmd: [{}]", shown);
        return {EAtResult::SerialError, {}};
    }

    const auto deadline = mClock->Now() + command.timeout;
    CAtAnswer answer(command);
    std::string line;
    while (!answer.IsComplete()) {
        if (deadline < mClock->Now()) {
            const std::string content = command.secret ? std::string(kHidden) : answer.Content();
            TLOG_WARN("AT: Timeout. Cmd [{}], Content: [{}]", shown, content);
            return {EAtResult::Timeout, {content}};
        }
        if (ReadLine(line, mTimings.answerPoll)) {
            answer.AddLine(line);
        } else if (!mSerial->IsOpen()) {
            TLOG_ERROR("AT: Serial lost while waiting for the answer. Cmd: [{}]", shown);
            return {EAtResult::SerialError, {}};
        }
    }

    const std::string& content = answer.Content();
    const std::string shownContent = command.secret ? std::string(kHidden) : content;
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
        return {EAtResult::Ok, std::move(values)};
    }
    TLOG_ERROR("AT: {}. Cmd: [{}], Res: [{}], Content: [{}]", answer.FailureReason(), shown, answer.FinalLine(),
               shownContent);
    return {EAtResult::Error, {shownContent}};
}
