#include "src/components/ltemodem/simaccess.h"

#include "platform/log/log.h"
#include "src/components/ltemodem/modemanswers.h"
#include "src/components/ltemodem/modemcommands.h"
#include "platform/toolbox/tarvvalidation.h"

#include <chrono>
#include <string_view>

namespace {

using namespace std::chrono_literals;
namespace Cmd = Modem::Commands;

// The SIM answers "busy" for a while after the banner (about 1.5 s).
constexpr std::string_view kSimBusy = "+CME ERROR: 14";
constexpr auto kSimBusyInterval = 500ms;
constexpr auto kSimBusyLimit = 10s;
// After the radio was switched off and on, the SIM is polled for this long.
constexpr auto kSimPollInterval = 1s;
constexpr auto kSimPollLimit = 15s;

} // namespace

CSimAccess::CSimAccess(IAtHandler& at, std::shared_ptr<IClock> clock)
    : mAt(at)
    , mClock(std::move(clock))
{
}

AtResponse CSimAccess::Send(const AtCommand& command, const std::string& arguments)
{
    const auto deadline = mClock->Now() + kSimBusyLimit;
    while (true) {
        AtResponse response = mAt.SendCommand(command, arguments);
        if (response.result != EAtResult::Error || response.final != kSimBusy || mClock->Now() >= deadline) {
            return response;
        }
        TLOG_INFO("SIM busy, [{}] again in {} ms", command.command, kSimBusyInterval.count());
        mClock->SleepFor(kSimBusyInterval);
    }
}

EAtResult CSimAccess::IsInserted(bool& inserted)
{
    TLOG_FUNCTION();
    return Modem::Decode(Send(Cmd::kSimStatus), Modem::ParseQsimstat, inserted,
                         "Could not obtain SIM insertion status");
}

EAtResult CSimAccess::AwaitAfterReset()
{
    const auto start = mClock->Now();
    while (true) {
        bool inserted = false;
        if (IsInserted(inserted) == EAtResult::Ok && inserted) {
            TLOG_INFO("Soft reset successful");
            return EAtResult::Ok;
        }
        if (mClock->Now() - start >= kSimPollLimit) {
            TLOG_ERROR("SIM not detected after soft reset and timeout");
            return EAtResult::Error;
        }
        TLOG_DEBUG("Pending SIM insertion status after soft reset");
        mClock->SleepFor(kSimPollInterval);
    }
}

EAtResult CSimAccess::EnterPin(const std::string& pin)
{
    std::int32_t left = 0;
    if (Modem::Decode(Send(Cmd::kPinAttempts), Modem::ParseQpinc, left,
                      "Could not read the remaining SIM PIN attempts, PIN not sent") != EAtResult::Ok) {
        return EAtResult::Error;
    }
    if (left <= 1) {
        TLOG_ERROR("SIM PIN not sent: {} attempt(s) left, a wrong PIN would lock the SIM", left);
        return EAtResult::SimError;
    }
    if (mAt.SendCommand(Cmd::kPinEnter, pin).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to unlock SIM with provided PIN");
        return EAtResult::SimError;
    }
    return EAtResult::Ok;
}

EAtResult CSimAccess::Unlock(const std::function<std::optional<std::string>()>& readPin)
{
    TLOG_FUNCTION();
    constexpr const char* kNoStatus = "Failed to retrieve SIM PIN status, do not proceed with unlock procedure";
    std::string status;
    if (Modem::Decode(Send(Cmd::kPinStatus), Modem::ParseCpin, status, kNoStatus) != EAtResult::Ok) {
        return EAtResult::Error;
    }
    if (status == "READY") {
        TLOG_INFO("SIM PIN not required, ready");
        return EAtResult::Ok;
    }
    if (status == "SIMPIN") {
        TLOG_INFO("SIM PIN required, unlocking...");
        const auto pin = readPin();
        if (!pin || pin->empty()) {
            TLOG_ERROR("SIM PIN required, but empty in settings");
            return EAtResult::SimError;
        }
        if (!CTarvValidation::IsSimPin(*pin)) {
            TLOG_ERROR("SIM PIN in settings is not 4 to 8 decimal digits, not sent");
            return EAtResult::SimError;
        }
        const EAtResult entered = EnterPin(*pin);
        if (entered != EAtResult::Ok) {
            return entered;
        }
    }
    if (Modem::Decode(Send(Cmd::kPinStatus), Modem::ParseCpin, status, kNoStatus) != EAtResult::Ok) {
        return EAtResult::SimError;
    }
    if (status == "READY") {
        TLOG_INFO("SIM successfully unlocked");
        return EAtResult::Ok;
    }
    TLOG_ERROR("SIM not unlocked, status: [{}]", status);
    return EAtResult::SimError;
}
