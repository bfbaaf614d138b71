#include "src/components/ltemodem/modemstatemachineimpl.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"

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

int CModemStateMachineImpl::Fail(const char* text, EAtResult code)
{
    TLOG_ERROR("{}", text);
    if (code == EAtResult::SimError) {
        mNoRecovery = true;
    }
    return kFailed;
}

void CModemStateMachineImpl::ResetPowerPhases()
{
    mPowerOnTime.reset();
    mPowerOffTime.reset();
    mPowerOffRetried = false;
    mRecoveryPulseTime.reset();
}

int CModemStateMachineImpl::DoInitializing()
{
    TLOG_FUNCTION();
    if (!mPowerOnTime) {
        if (mModem->IsSerialPresent()) {
            TLOG_INFO("Modem already powered on while initializing");
        } else {
            TLOG_INFO("Powering on modem...");
            mModem->TogglePower();
        }
        mPowerOnTime = mClock->Now();
    }
    if (!mModem->IsSerialPresent()) {
        if (mClock->Now() <= *mPowerOnTime + mSerialTimeout) {
            TLOG_INFO("Serial not present yet after modem power up, waiting one cycle...");
            return kNotYet;
        }
        TLOG_ERROR("Modem powered up but serial not present after timeout ({}ms)", mSerialTimeout.count());
        mNoRecovery = true;
        mInitializationWarning.Send(true);
        return kFailed;
    }
    TLOG_DEBUG("Modem powered on and serial present");
    if (!mModem->InitializeSerial()) {
        mInitializationWarning.Send(true);
        return Fail("Failed initializing AT serial", EAtResult::Error);
    }
    TLOG_DEBUG("Serial initialized");
    mInitializationWarning.Send(false);

    std::string text;
    if (mModem->GetModemFirmwareVersion(text) != EAtResult::Ok) {
        return Fail("Modem could not read firmware version", EAtResult::Error);
    }
    TLOG_INFO("Modem firmware: {}", text);
    if (mModem->GetImei(text) != EAtResult::Ok) {
        return Fail("Modem could not read IMEI", EAtResult::Error);
    }
    TLOG_INFO("Modem IMEI: {}", text);
    if (mModem->EnableFastShutdown() != EAtResult::Ok) {
        return Fail("Modem could not enable fast shutdown", EAtResult::Error);
    }
    bool flag = false;
    if (mModem->IsEcmMode(flag) != EAtResult::Ok) {
        return Fail("Modem could not check ECM mode", EAtResult::Error);
    }
    if (!flag) {
        // The error path power-cycles the modem, which then starts in ECM mode.
        TLOG_ERROR("ECM not configured, configuring and restarting modem...");
        mModem->ConfigureEcm();
        return kFailed;
    }
    const EAtResult sim = mModem->InitializeSim();
    if (sim != EAtResult::Ok) {
        mSimWarning.Send(true);
        mInitializationWarning.Send(true);
        return Fail("Failed initializing SIM", sim);
    }
    if (mModem->GetSimEffect(flag) != EAtResult::Ok) {
        return Fail("Modem could not get Sim effect", EAtResult::Error);
    }
    if (flag) {
        TLOG_WARN("Sim effect is currently enabled and will be disabled after a reboot");
        mModem->DisableSimEffect();
    }
    if (mModem->IsRoamingEnabled(flag) != EAtResult::Ok) {
        return Fail("Modem could not get roaming status", EAtResult::Error);
    }
    if (!flag) {
        TLOG_WARN("Roaming not enabled, deleting default roaming config settings");
        mRoamingWarning.Send(true);
        mModem->DeleteRoamingConfigFile();
        return kFailed;
    }
    TLOG_INFO("Modem initialized successfully ");
    mPowerOnTime.reset();
    return kDone;
}

int CModemStateMachineImpl::DoEnabling()
{
    TLOG_FUNCTION();
    TLOG_INFO("Enabling LTE modem...");
    const auto apn = mModem->GetApnSettings();
    if (!apn) {
        return Fail("Modem not enabled, invalid APN settings", EAtResult::SimError);
    }
    if (mModem->SetTechPriority() != EAtResult::Ok) {
        return Fail("Modem not enabled, failed setting mobile technology priority", EAtResult::Error);
    }
    if (mModem->ConfigureNbIot() != EAtResult::Ok) {
        return Fail("Modem not enabled, failed setting NB-IoT preference", EAtResult::Error);
    }
    if (mModem->SetAvailableBands() != EAtResult::Ok) {
        return Fail("Modem not enabled, failed setting available bands", EAtResult::Error);
    }
    if (mModem->SetApn(*apn) != EAtResult::Ok) {
        return Fail("Modem not enabled, failed configuring custom APN", EAtResult::Error);
    }
    const EAtResult sim = mModem->UnlockSim();
    if (sim != EAtResult::Ok) {
        mPinWarning.Send(true);
        return Fail("Modem not enabled, failed unlocking SIM", sim);
    }
    if (mModem->ActivatePdpContext() != EAtResult::Ok) {
        TLOG_WARN("Failed to activate PDP context, proceeding without data...");
    }
    TLOG_INFO("Modem enabled successfully ");
    if (mModem->SetSmsTextMode() != EAtResult::Ok) {
        TLOG_WARN("Failed to set SMS Message format to Text Mode");
        return kDone;
    }
    if (mModem->SetSmsStorage() != EAtResult::Ok) {
        TLOG_WARN("Failed to set SMS storage");
        return kDone;
    }
    if (mModem->DeleteSmsMsgs() != EAtResult::Ok) {
        TLOG_WARN("Failed to clear SMS storage");
        return kDone;
    }
    mModem->SetSmsEnabled(true);
    TLOG_INFO("SMS enabled successfully ");
    return kDone;
}

int CModemStateMachineImpl::DoDisabling()
{
    TLOG_FUNCTION();
    if (!mPowerOffTime) {
        if (mModem->IsSerialPresent()) {
            TLOG_INFO("Powering off modem...");
            mModem->TogglePower();
        } else {
            TLOG_INFO("Modem already powered off while disabling");
        }
        mPowerOffTime = mClock->Now();
    }
    if (!mModem->IsSerialPresent()) {
        TLOG_INFO("Modem disabled");
        ResetPowerPhases();
        return kDone;
    }
    if (mClock->Now() <= *mPowerOffTime + mSerialTimeout) {
        TLOG_DEBUG("Serial still present after modem power down, waiting one cycle...");
        return kNotYet;
    }
    if (!mPowerOffRetried) {
        TLOG_ERROR("Modem powered down but serial still present after timeout, retrying...");
        mModem->TogglePower();
        mPowerOffTime = mClock->Now();
        mPowerOffRetried = true;
        return kNotYet;
    }
    TLOG_ERROR("Modem powered down twice but serial still present after timeout");
    mNoRecovery = true;
    return kFailed;
}

int CModemStateMachineImpl::DoError()
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
            return kFailed;
        }
        TLOG_INFO("Modem recovery reset attempt {}/{}", mRecoveryAttempts, kMaxRecoveryAttempts);
        mModem->TogglePower();
        mRecoveryPulseTime = mClock->Now();
    }
    // The modem takes a while to switch off; initialising it again before
    // its device is gone would talk to a modem on its way down (and the
    // next power-key pulse would switch it back off).
    if (mModem->IsSerialPresent() && mClock->Now() <= *mRecoveryPulseTime + mSerialTimeout) {
        TLOG_DEBUG("Serial still present after modem recovery reset, waiting one cycle...");
        return kNotYet;
    }
    ClearDiagnosticWarnings();
    ResetPowerPhases();
    return kDone;
}

void CModemStateMachineImpl::ClearDiagnosticWarnings()
{
    TLOG_FUNCTION();
    mRoamingWarning.Send(false);
    mInitializationWarning.Send(false);
    mPinWarning.Send(false);
    mSimWarning.Send(false);
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
