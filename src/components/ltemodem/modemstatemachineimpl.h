#pragma once
// The work of each modem state on the modem command set: power-on and
// power-off supervision, the modem's set-up checks, recovery counting, and
// the five warning signals.

#include "platform/ipc/diagnosticssignal.h"
#include "platform/worker/iclock.h"
#include "src/components/ltemodem/imodem.h"
#include "src/components/ltemodem/imodemstatemachineimpl.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <cstdint>
#include <memory>
#include <optional>

class CModemStateMachineImpl final : public IModemStateMachineImpl {
public:
    static constexpr std::chrono::milliseconds kDefaultSerialTimeout {30000};
    static constexpr std::uint8_t kMaxRecoveryAttempts = 3;

    // serialTimeout: how long the serial device may take to appear after
    // power-on, and to disappear after power-off.
    CModemStateMachineImpl(std::shared_ptr<Modem::IModem> modem,
                           std::chrono::milliseconds serialTimeout = kDefaultSerialTimeout,
                           std::shared_ptr<IClock> clock = IClock::Steady());

    EStepResult DoInitializing() override;
    EStepResult DoEnabling() override;
    EStepResult DoDisabling() override;
    EStepResult DoError() override;
    void ClearErrors() override;
    void RefreshDiagnosticSignals(bool clear) override;
    void RequestStop(bool stop) override;

    // Text mode, SIM storage, stored messages cleared, then SMS marked
    // enabled; false (with a warning) at the first failure.
    static bool SetUpSms(Modem::IModem& modem);

private:
    // Runs the steps in order until one does not report Done; a stop
    // request is honoured between two steps.
    EStepResult RunSteps(std::initializer_list<std::function<EStepResult()>> steps);
    // Whether the modem is to be switched off (logged when it is).
    bool StopRequested();
    // Powers the modem on if needed and waits for its device.
    EStepResult AwaitPowerOn();
    EStepResult OpenChannel();
    EStepResult CheckEcm();
    EStepResult CheckSim();
    EStepResult CheckRoaming();
    EStepResult Configure(EAtResult result, const char* failure);
    void ClearDiagnosticWarnings();
    void ResetPowerPhases();
    // Logs the failure; a SIM failure rules out recovery.
    EStepResult Fail(const char* text, EAtResult code);

    // Set once at construction.
    const std::shared_ptr<Modem::IModem> mModem;
    const std::chrono::milliseconds mSerialTimeout;
    const std::shared_ptr<IClock> mClock;

    // Used only on the state machine's worker (the state actions, and
    // ClearErrors which the machine calls there).
    std::optional<IClock::time_point> mPowerOnTime;  // set while a power-on is supervised
    std::optional<IClock::time_point> mPowerOffTime; // set while a power-off is supervised
    std::optional<IClock::time_point> mRecoveryPulseTime; // set while a recovery power-off is supervised
    bool mPowerOffRetried = false;
    bool mPowerOffPulsed = false; // the running power-off pulsed a modem that had its device
    bool mPowerOnRetry = false;   // the running power-on may pulse once more
    // Set when the modem's device was seen to go after our own pulse, so
    // the modem is known to be off; a power key pulse then surely switches
    // it on. Not reset with the power phases.
    bool mSeenOff = false;
    // Set from the caller's thread when the modem is to be switched off,
    // read between the commands of a procedure.
    std::atomic<bool> mStopRequested {false};
    bool mNoRecovery = false;
    std::uint8_t mRecoveryAttempts = 0;

    // Each signal guards its own value; RefreshDiagnosticSignals may run on
    // the caller's thread.
    CDiagnosticsSignal<bool> mRoamingWarning;
    CDiagnosticsSignal<bool> mInitializationWarning;
    CDiagnosticsSignal<bool> mFatalError;
    CDiagnosticsSignal<bool> mPinWarning;
    CDiagnosticsSignal<bool> mSimWarning;
};
