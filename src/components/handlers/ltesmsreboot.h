#pragma once
// The station's reboot by SMS: a message "reboot <password>" (the configured
// SMS password) asks the board controller for a reboot, again on every
// update until it takes the request or kRequestLimit passes. Every other
// message is logged (a near miss without its text) and deleted.

#include "platform/ipc/iboardcontrol.h"
#include "platform/worker/iclock.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/ltemodem/imodem.h"

#include <chrono>
#include <memory>
#include <optional>

// Used on the LTE handler's worker thread only.
class CLteSmsReboot {
public:
    // A reboot request the board controller does not take is repeated on
    // every update for this long.
    static constexpr std::chrono::minutes kRequestLimit{10};

    // Without a board controller every request fails (and is given up).
    CLteSmsReboot(std::shared_ptr<Modem::IModem> modem, std::shared_ptr<ITarvConfig> config,
                  std::shared_ptr<IBoardControl> boardControl);

    // Whether an authorised request waits for the board controller.
    bool IsPending() const { return mPendingSince.has_value(); }
    // Asks the board controller for the pending reboot; now is the time of
    // the update pass (the first one logs a failure).
    void RequestReboot(IClock::time_point now);
    // Reads the messages; an authorised one makes the request pending and
    // asks at once.
    void CheckMessages(IClock::time_point now);

private:
    // Whether one of the messages is an authorised reboot request; the
    // others are deleted.
    bool HasAuthorisedRequest();

    const std::shared_ptr<Modem::IModem> mModem;
    const std::shared_ptr<ITarvConfig> mConfig;
    const std::shared_ptr<IBoardControl> mBoardControl;
    bool mInProgress = false; // the board controller took a reboot request
    std::optional<IClock::time_point> mPendingSince; // an authorised SMS waits for the board controller
};
