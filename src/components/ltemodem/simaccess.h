#pragma once
// The SIM card's dialogue over the AT channel. Its commands are sent again
// while the SIM answers busy (it does for a while after the modem's banner),
// and the PIN is entered only while more than one attempt is left, so that a
// wrong PIN in the settings never locks the card.

#include "platform/worker/iclock.h"
#include "src/components/ltemodem/iathandler.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class CSimAccess {
public:
    // at must outlive the card.
    CSimAccess(IAtHandler& at, std::shared_ptr<IClock> clock);

    // Sends the command again while the SIM answers busy, for a bounded time.
    AtResponse Send(const AtCommand& command, const std::string& arguments = {});
    EAtResult IsInserted(bool& inserted);
    // Polls the SIM after the radio was switched off and on until it shows
    // as inserted; Error when it does not within 15 s.
    EAtResult AwaitAfterReset();
    // Enters the PIN (from readPin, read only then) when the SIM asks for
    // one; SimError when the SIM is not left ready.
    EAtResult Unlock(const std::function<std::optional<std::string>()>& readPin);

private:
    // Queries the remaining PIN attempts and enters the PIN when more than
    // one is left.
    EAtResult EnterPin(const std::string& pin);

    // Set once at construction.
    IAtHandler& mAt;
    const std::shared_ptr<IClock> mClock;
};
