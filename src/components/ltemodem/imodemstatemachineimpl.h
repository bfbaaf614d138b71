#pragma once
// The work of each modem state, and the modem's warning signals.

// Result of a state's work: finished, to be run again next period, or failed.
enum class EStepResult { Done, NotYet, Failed };

class IModemStateMachineImpl {
public:
    virtual ~IModemStateMachineImpl() = default;

    // Power on, open the AT channel, check the modem's set-up and the SIM.
    virtual EStepResult DoInitializing() = 0;
    // Radio settings, access point, SIM PIN, data context, SMS.
    virtual EStepResult DoEnabling() = 0;
    // Power off and wait for the serial device to go.
    virtual EStepResult DoDisabling() = 0;
    // One recovery attempt: a modem with its device gets a power key pulse,
    // then NotYet until the device is gone; one without goes straight on to
    // the power-up. Failed once recovery gives up.
    virtual EStepResult DoError() = 0;
    // Forgets failures and warnings once a target is reached.
    virtual void ClearErrors() = 0;
    // Sends each warning signal again, or false for each when clear is set.
    virtual void RefreshDiagnosticSignals(bool clear) = 0;
    // Called on the caller's thread with each new target: true when the
    // modem is to be switched off, so that a procedure in flight ends
    // between two of its commands.
    virtual void RequestStop(bool stop) = 0;
};
