#pragma once
// The modem's own state machine: the user names the state it wants, the
// machine steps towards it on its own worker and calls back on arrival.

#include <functional>

enum class EModemState : int {
    Disabled = 0,
    Initializing = 1,
    Initialized = 2,
    Enabling = 3,
    Enabled = 4,
    Disabling = 5,
    Error = 6,
};

class IModemStateMachine {
public:
    // Receives true each time the machine arrives in the state it was
    // stored for (never false: a failure shows as the Error state and the
    // warning signals).
    using Callback = std::function<void(bool)>;

    virtual ~IModemStateMachine() = default;

    // Asks for Initialized, Enabled, Disabled, or Error (a recovery: power
    // cycle, then back to Enabled). A callback replaces the one stored for
    // that state earlier; an empty one keeps it. Returns at once; callbacks
    // run on the machine's worker. After recovery has given up the request
    // is refused with an error line.
    virtual void SetTargetState(EModemState target, Callback callback) = 0;
    // Leaves the stop after recovery gave up (for instance once a refused
    // setting was corrected): failures are forgotten and the next target is
    // taken again, starting with a recovery. False when the machine was not
    // stopped.
    virtual bool Resume() = 0;
};
