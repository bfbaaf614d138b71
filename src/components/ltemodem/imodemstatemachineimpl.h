#pragma once
// The work of each modem state, and the modem's warning signals.

class IModemStateMachineImpl {
public:
    // Result of a state's work.
    enum EStepResult : int { kDone = 0, kNotYet = 1, kFailed = 2 };

    virtual ~IModemStateMachineImpl() = default;

    // Power on, open the AT channel, check the modem's set-up and the SIM.
    virtual int DoInitializing() = 0;
    // Radio settings, access point, SIM PIN, data context, SMS.
    virtual int DoEnabling() = 0;
    // Power off and wait for the serial device to go.
    virtual int DoDisabling() = 0;
    // One recovery attempt: a modem with its device gets a power key pulse,
    // then kNotYet until the device is gone; one without goes straight on to
    // the power-up. kFailed once recovery gives up.
    virtual int DoError() = 0;
    // Forgets failures and warnings once a target is reached.
    virtual void ClearErrors() = 0;
    // Sends each warning signal again, or false for each when clear is set.
    virtual void RefreshDiagnosticSignals(bool clear) = 0;
    // Called on the caller's thread with each new target: true when the
    // modem is to be switched off, so that a procedure in flight ends
    // between two of its commands.
    virtual void RequestStop(bool stop) = 0;
};
