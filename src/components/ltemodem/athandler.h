#pragma once
// The AT command channel on the modem's serial port: waits for the start-up
// banner, switches echo off, and exchanges one command at a time. Waits run
// on an IClock; reads wait on the port's descriptor for at most one poll
// interval, so nothing wakes up while no command is in flight.
//
// Unsolicited codes are taken out of every answer and handed to the
// unsolicited handler. After a command timed out, its answer may still come:
// before the next command the channel waits for that late final line, or
// marks the boundary with a plain "AT" and its "OK", so that a late answer
// is never read as the answer of a later command.

#include "platform/serial/serial.h"
#include "platform/worker/iclock.h"
#include "src/components/ltemodem/iathandler.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct SAtTimings {
    // How long the start-up banner is awaited before going on without it.
    std::chrono::milliseconds bannerTimeout {5000};
    // Longest wait of one read while the banner is awaited.
    std::chrono::milliseconds bannerPoll {100};
    // Longest wait of one read while an answer is awaited.
    std::chrono::milliseconds answerPoll {25};
    // After a time-out: how long the late final line is awaited before the
    // channel probes with "AT".
    std::chrono::milliseconds resyncWait {2000};
};

class CAtHandler final : public IAtHandler {
public:
    using STimings = SAtTimings;

    static constexpr std::string_view kBanner = "APP RDY";
    static const AtCommand kEchoOff;
    static const AtCommand kAttention;

    // serial must not be null (std::invalid_argument otherwise).
    explicit CAtHandler(std::unique_ptr<CSerial> serial, std::shared_ptr<IClock> clock = IClock::Steady(),
                        STimings timings = {});

    bool IsSerialPresent() override;
    bool InitializeSerial() override;
    bool CloseSerial() override;
    AtResponse SendCommand(const AtCommand& command) override;
    AtResponse SendCommand(const AtCommand& command, const std::string& arguments) override;
    void SetEventHandlers(UnsolicitedHandler unsolicited, RestartHandler restarted) override;
    unsigned ConsecutiveTimeouts() override;

private:
    bool WaitForReady();
    bool DisableEcho();
    AtResponse SendCommandInternal(const AtCommand& command, const std::string& arguments);
    // The exchange proper, with mExchangeMutex held.
    AtResponse Exchange(const AtCommand& command, const std::string& text, const std::string& shown);
    // Reads what arrived since the last exchange: unsolicited codes go to
    // their handler, anything else is a stale answer line and is dropped.
    void DrainLocked();
    // Brings the channel back in step after a time-out; false when the
    // modem did not answer a plain "AT" either.
    bool ResynchroniseLocked();
    // Hands the line to the unsolicited handler; true when it was one.
    bool TakeUnsolicited(const std::string& line, std::optional<std::string_view> expected);
    void ReportRestart(const char* sign);
    // One line, or false after waiting up to `poll` (on the descriptor, or on
    // the clock when the port returned at once).
    bool ReadLine(std::string& line, std::chrono::milliseconds poll);

    // Set once at construction.
    const std::unique_ptr<CSerial> mSerial;
    const std::shared_ptr<IClock> mClock;
    const STimings mTimings;
    // Set once before the first command (SetEventHandlers).
    UnsolicitedHandler mUnsolicited;
    RestartHandler mRestarted;
    // Serialises the banner wait and every command exchange on the port, so
    // that answers of two callers never interleave.
    std::mutex mExchangeMutex;
    bool mResync = false; // guarded by mExchangeMutex: a command timed out since
    // Prefix of the command that timed out, so that its late answer is told
    // from unsolicited codes; guarded by mExchangeMutex.
    std::optional<std::string_view> mLateExpected;
    // Echo is off and the banner was seen: set by InitializeSerial, cleared by
    // CloseSerial (which takes no lock), read by exchanges.
    std::atomic<bool> mInitialized {false};
    std::atomic<unsigned> mTimeouts {0}; // written under mExchangeMutex, read by anyone
};
