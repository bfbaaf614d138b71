#include "src/components/ltemodem/modemstatemachineimpl.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"

#include <functional>
#include <stdexcept>
#include <string>

CModemStateMachineImpl::CModemStateMachineImpl(std::shared_ptr<Modem::IModem> modem,
                                               std::chrono::milliseconds serialTimeout, std::shared_ptr<IClock> clock)
    : mModem(std::move(modem))
    , mSerialTimeout(serialTimeout)
    , mClock(std::move(clock))
    , mRoamingWarning(&Signals::kLteRoamingDisabled)
    , mInitializationWarning(&Signals::kModemInitializationFailed)
    , mFatalError(&Signals::kModemFatalError)
    , mPinWarning(&Signals::kIncorrectSimPin)
    , mSimWarning(&Signals::kSimReadFailed)
{
    if (!mModem || !mClock) {
        throw std::invalid_argument("CModemStateMachineImpl needs a modem and a clock");
    }
}

EStepResult CModemStateMachineImpl::Fail(const char* text, EAtResult code)
{
    TLOG_ERROR("{}", text);
    if (code == EAtResult::SimError) {
        mNoRecovery = true;
    }
    return EStepResult::Failed;
}

void CModemStateMachineImpl::ResetPowerPhases()
{
    mPowerOnTime.reset();
    mPowerOffTime.reset();
    mPowerOffRetried = false;
    mPowerOffPulsed = false;
    mPowerOnRetry = false;
    mRecoveryPulseTime.reset();
}

bool CModemStateMachineImpl::StopRequested()
{
    if (!mStopRequested.load()) {
        return false;
    }
    TLOG_INFO("Modem procedure stopped between two commands: the modem is to be switched off");
    return true;
}

EStepResult CModemStateMachineImpl::RunSteps(std::initializer_list<std::function<EStepResult()>> steps)
{
    for (const auto& step : steps) {
        if (StopRequested()) {
            return EStepResult::Failed;
        }
        const EStepResult result = step();
        if (result != EStepResult::Done) {
            return result;
        }
    }
    // A stop during the last step: the procedure did not reach its state.
    return StopRequested() ? EStepResult::Failed : EStepResult::Done;
}

EStepResult CModemStateMachineImpl::AwaitPowerOn()
{
    if (!mPowerOnTime) {
        if (mModem->IsSerialPresent()) {
            TLOG_INFO("Modem already powered on while initializing");
        } else {
            TLOG_INFO("Powering on modem...");
            mModem->TogglePower();
            // Without its device the modem is off, or on without it (a lost
            // device). Only a modem seen going off is surely switched on by
            // this pulse; otherwise a second pulse may be needed once the
            // device had its time to appear.
            mPowerOnRetry = !mSeenOff;
        }
        mSeenOff = false;
        mPowerOnTime = mClock->Now();
    }
    if (mModem->IsSerialPresent()) {
        return EStepResult::Done;
    }
    if (mClock->Now() <= *mPowerOnTime + mSerialTimeout) {
        TLOG_INFO("Serial not present yet after modem power up, waiting one cycle...");
        return EStepResult::NotYet;
    }
    if (mPowerOnRetry) {
        TLOG_WARN("Modem device absent {}ms after the power key: the modem was on without it, powering on again",
                  mSerialTimeout.count());
        mPowerOnRetry = false;
        mModem->TogglePower();
        mPowerOnTime = mClock->Now();
        return EStepResult::NotYet;
    }
    TLOG_ERROR("Modem powered up but serial not present after timeout ({}ms)", mSerialTimeout.count());
    mNoRecovery = true;
    mInitializationWarning.Send(true);
    return EStepResult::Failed;
}

EStepResult CModemStateMachineImpl::OpenChannel()
{
    if (!mModem->InitializeSerial()) {
        mInitializationWarning.Send(true);
        return Fail("Failed initializing AT serial", EAtResult::Error);
    }
    TLOG_DEBUG("Serial initialized");
    mInitializationWarning.Send(false);
    // Whatever the module reported before this point is history, and SMS
    // is set up again by the enabling.
    mModem->TakeEvents();
    mModem->SetSmsEnabled(false);
    return EStepResult::Done;
}

EStepResult CModemStateMachineImpl::CheckEcm()
{
    bool ecm = false;
    if (mModem->IsEcmMode(ecm) != EAtResult::Ok) {
        return Fail("Modem could not check ECM mode", EAtResult::Error);
    }
    if (!ecm) {
        // The error path power-cycles the modem, which then starts in ECM mode.
        TLOG_ERROR("ECM not configured, configuring and restarting modem...");
        mModem->ConfigureEcm();
        return EStepResult::Failed;
    }
    return EStepResult::Done;
}

EStepResult CModemStateMachineImpl::CheckSim()
{
    const EAtResult sim = mModem->InitializeSim();
    if (sim != EAtResult::Ok) {
        mSimWarning.Send(true);
        mInitializationWarning.Send(true);
        return Fail("Failed initializing SIM", sim);
    }
    bool effect = false;
    if (mModem->GetSimEffect(effect) != EAtResult::Ok) {
        return Fail("Modem could not get Sim effect", EAtResult::Error);
    }
    if (effect) {
        TLOG_WARN("Sim effect is currently enabled and will be disabled after a reboot");
        mModem->DisableSimEffect();
    }
    return EStepResult::Done;
}

EStepResult CModemStateMachineImpl::CheckRoaming()
{
    bool roaming = false;
    if (mModem->IsRoamingEnabled(roaming) != EAtResult::Ok) {
        return Fail("Modem could not get roaming status", EAtResult::Error);
    }
    if (!roaming) {
        TLOG_WARN("Roaming not enabled, deleting default roaming config settings");
        mRoamingWarning.Send(true);
        mModem->DeleteRoamingConfigFile();
        return EStepResult::Failed;
    }
    return EStepResult::Done;
}

EStepResult CModemStateMachineImpl::DoInitializing()
{
    TLOG_FUNCTION();
    const EStepResult power = AwaitPowerOn();
    if (power != EStepResult::Done) {
        return power;
    }
    TLOG_DEBUG("Modem powered on and serial present");
    std::string text;
    const EStepResult result = RunSteps({
        [this] { return OpenChannel(); },
        [this, &text]() -> EStepResult {
            if (mModem->GetModemFirmwareVersion(text) != EAtResult::Ok) {
                return Fail("Modem could not read firmware version", EAtResult::Error);
            }
            TLOG_INFO("Modem firmware: {}", text);
            return EStepResult::Done;
        },
        [this, &text]() -> EStepResult {
            if (mModem->GetImei(text) != EAtResult::Ok) {
                return Fail("Modem could not read IMEI", EAtResult::Error);
            }
            TLOG_INFO("Modem IMEI: {}", text);
            return EStepResult::Done;
        },
        [this] {
            return mModem->EnableFastShutdown() == EAtResult::Ok
                       ? EStepResult::Done
                       : Fail("Modem could not enable fast shutdown", EAtResult::Error);
        },
        [this] { return CheckEcm(); },
        [this] { return CheckSim(); },
        [this] { return CheckRoaming(); },
    });
    if (result != EStepResult::Done) {
        return result;
    }
    TLOG_INFO("Modem initialized successfully ");
    mPowerOnTime.reset();
    return EStepResult::Done;
}

EStepResult CModemStateMachineImpl::Configure(EAtResult result, const char* failure)
{
    return result == EAtResult::Ok ? EStepResult::Done : Fail(failure, EAtResult::Error);
}

EStepResult CModemStateMachineImpl::DoEnabling()
{
    TLOG_FUNCTION();
    TLOG_INFO("Enabling LTE modem...");
    const auto apn = mModem->GetApnSettings();
    if (!apn) {
        return Fail("Modem not enabled, invalid APN settings", EAtResult::SimError);
    }
    const EStepResult result = RunSteps({
        [this] {
            return Configure(mModem->SetTechPriority(), "Modem not enabled, failed setting mobile technology priority");
        },
        [this] { return Configure(mModem->ConfigureNbIot(), "Modem not enabled, failed setting NB-IoT preference"); },
        [this] { return Configure(mModem->SetAvailableBands(), "Modem not enabled, failed setting available bands"); },
        [this, &apn] { return Configure(mModem->SetApn(*apn), "Modem not enabled, failed configuring custom APN"); },
        [this]() -> EStepResult {
            const EAtResult sim = mModem->UnlockSim();
            if (sim != EAtResult::Ok) {
                mPinWarning.Send(true);
                return Fail("Modem not enabled, failed unlocking SIM", sim);
            }
            return EStepResult::Done;
        },
        [this]() -> EStepResult {
            if (mModem->ActivatePdpContext() != EAtResult::Ok) {
                TLOG_WARN("Failed to activate PDP context, proceeding without data...");
            }
            return EStepResult::Done;
        },
    });
    if (result != EStepResult::Done) {
        return result;
    }
    TLOG_INFO("Modem enabled successfully ");
    SetUpSms(*mModem);
    return EStepResult::Done;
}

bool CModemStateMachineImpl::SetUpSms(Modem::IModem& modem)
{
    if (modem.SetSmsTextMode() != EAtResult::Ok) {
        TLOG_WARN("Failed to set SMS Message format to Text Mode");
        return false;
    }
    if (modem.SetSmsStorage() != EAtResult::Ok) {
        TLOG_WARN("Failed to set SMS storage");
        return false;
    }
    if (modem.DeleteSmsMsgs() != EAtResult::Ok) {
        TLOG_WARN("Failed to clear SMS storage");
        return false;
    }
    modem.SetSmsEnabled(true);
    TLOG_INFO("SMS enabled successfully ");
    return true;
}

EStepResult CModemStateMachineImpl::DoDisabling()
{
    TLOG_FUNCTION();
    if (!mPowerOffTime) {
        if (mModem->IsSerialPresent()) {
            TLOG_INFO("Powering off modem...");
            mModem->TogglePower();
            mPowerOffPulsed = true;
        } else if (mPowerOnTime && mClock->Now() <= *mPowerOnTime + mSerialTimeout) {
            // A power-up cut short: the modem boots and its device is not
            // there yet. A pulse now would not switch it off reliably; wait
            // for the device, then switch it off.
            TLOG_INFO("Modem still powering up, waiting for its device before powering it off...");
            return EStepResult::NotYet;
        } else {
            TLOG_INFO("Modem already powered off while disabling");
        }
        mPowerOffTime = mClock->Now();
    }
    if (!mModem->IsSerialPresent()) {
        TLOG_INFO("Modem disabled");
        const bool pulsed = mPowerOffPulsed;
        ResetPowerPhases();
        mSeenOff = pulsed;
        return EStepResult::Done;
    }
    if (mClock->Now() <= *mPowerOffTime + mSerialTimeout) {
        TLOG_DEBUG("Serial still present after modem power down, waiting one cycle...");
        return EStepResult::NotYet;
    }
    if (!mPowerOffRetried) {
        TLOG_ERROR("Modem powered down but serial still present after timeout, retrying...");
        mModem->TogglePower();
        mPowerOffTime = mClock->Now();
        mPowerOffRetried = true;
        return EStepResult::NotYet;
    }
    TLOG_ERROR("Modem powered down twice but serial still present after timeout");
    mNoRecovery = true;
    return EStepResult::Failed;
}

EStepResult CModemStateMachineImpl::DoError()
{
    TLOG_FUNCTION();
    if (!mRecoveryPulseTime) {
        if (mRecoveryAttempts < UINT8_MAX) {
            ++mRecoveryAttempts;
        }
        if (mRecoveryAttempts > kMaxRecoveryAttempts) {
            mNoRecovery = true;
        }
        if (mNoRecovery) {
            TLOG_ERROR("Modem fatal error, cannot continue");
            mFatalError.Send(true);
            return EStepResult::Failed;
        }
        TLOG_INFO("Modem recovery reset attempt {}/{}", mRecoveryAttempts, kMaxRecoveryAttempts);
        if (!mModem->IsSerialPresent()) {
            // Off (it switched itself off, or lost its power) or on without
            // its device: a pulse now could switch on a modem that the
            // power-up then switches off again. The power-up pulses once and
            // waits for the device before it pulses again.
            TLOG_INFO("Modem device absent, no power key pulse before the power-up");
            ClearDiagnosticWarnings();
            ResetPowerPhases();
            return EStepResult::Done;
        }
        mModem->TogglePower();
        mRecoveryPulseTime = mClock->Now();
    }
    // The modem takes a while to switch off; initialising it again before
    // its device is gone would talk to a modem on its way down (and the
    // next power-key pulse would switch it back off).
    const bool present = mModem->IsSerialPresent();
    if (present && mClock->Now() <= *mRecoveryPulseTime + mSerialTimeout) {
        TLOG_DEBUG("Serial still present after modem recovery reset, waiting one cycle...");
        return EStepResult::NotYet;
    }
    ClearDiagnosticWarnings();
    ResetPowerPhases();
    mSeenOff = !present;
    return EStepResult::Done;
}

void CModemStateMachineImpl::ClearDiagnosticWarnings()
{
    TLOG_FUNCTION();
    mRoamingWarning.Send(false);
    mInitializationWarning.Send(false);
    mPinWarning.Send(false);
    mSimWarning.Send(false);
}

void CModemStateMachineImpl::RequestStop(bool stop)
{
    mStopRequested.store(stop);
    if (stop) {
        // A command in flight may take minutes (a data context's activation
        // allows 151 s): closing the channel ends it now. The modem is
        // switched off next, and a power-up opens the channel again.
        mModem->CloseSerial();
    }
}

void CModemStateMachineImpl::ClearErrors()
{
    TLOG_FUNCTION();
    mNoRecovery = false;
    mRecoveryAttempts = 0;
    ClearDiagnosticWarnings();
    ResetPowerPhases();
}

void CModemStateMachineImpl::RefreshDiagnosticSignals(bool clear)
{
    TLOG_FUNCTION();
    for (CDiagnosticsSignal<bool>* signal :
         {&mRoamingWarning, &mInitializationWarning, &mFatalError, &mPinWarning, &mSimWarning}) {
        if (clear) {
            signal->Send(false);
        } else {
            signal->Send();
        }
    }
}
