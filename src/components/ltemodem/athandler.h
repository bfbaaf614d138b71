#pragma once
// The AT command channel on the modem's serial port: waits for the start-up
// banner, switches echo off, and exchanges one command at a time. Waits run
// on an IClock; reads wait on the port's descriptor for at most one poll
// interval, so nothing wakes up while no command is in flight.

#include "platform/serial/serial.h"
#include "platform/worker/iclock.h"
#include "src/components/ltemodem/iathandler.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

struct SAtTimings {
    // How long the start-up banner is awaited before going on without it.
    std::chrono::milliseconds bannerTimeout {5000};
    // Longest wait of one read while the banner is awaited.
    std::chrono::milliseconds bannerPoll {100};
    // Longest wait of one read while an answer is awaited.
    std::chrono::milliseconds answerPoll {25};
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

private:
    bool WaitForReady();
    bool DisableEcho();
    AtResponse SendCommandInternal(const AtCommand& command, const std::string& arguments);
    // One line, or false after waiting up to `poll` (on the descriptor, or on
    // the clock when the port returned at once).
    bool ReadLine(std::string& line, std::chrono::milliseconds poll);

    // Set once at construction.
    const std::unique_ptr<CSerial> mSerial;
    const std::shared_ptr<IClock> mClock;
    const STimings mTimings;
    // Serialises the banner wait and every command exchange on the port, so
    // that answers of two callers never interleave.
    std::mutex mExchangeMutex;
};
