#include "src/components/handlers/tarvltehandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/handlers/lteregistrationstate.h"
#include "src/components/ltemodem/modemstatemachineimpl.h"
#include "src/components/system/tarvexception.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

using LteRegistration::IsRefused;
using LteRegistration::IsRegistered;
using LteRegistration::RegistrationText;

CTarvLteHandler::CTarvLteHandler(const SHandlerParts& parts, std::shared_ptr<Modem::IModem> modem,
                                 std::unique_ptr<IModemStateMachine> stateMachine)
    : CTarvConnectionHandlerBase(parts, {ipc::ELte0, HwHasLte, kStateTimeout, &Signals::kLteLinkState}),
      mModem(std::move(modem)), mStateMachine(std::move(stateMachine)), mDnsServers(parts.lteDnsManager),
      mSignals(mClock), mConnectivitySignal(&Signals::kConnectivityStatusChanged),
      mSmsReboot(mModem, mConfig, parts.boardControl), mWorker("lte", mClock)
{
    // The DNS manager is checked by mDnsServers.
    if (!mModem || !mStateMachine) {
        throw std::invalid_argument("CTarvLteHandler: modem and modem state machine are required");
    }
    ClearStatus(mStatus);
    // The worker's thread starts with the first Enable: a station without
    // a modem never has one.
}

CTarvLteHandler::~CTarvLteHandler()
{
    // The machine's callbacks start the updates: end them first.
    mStateMachine.reset();
    mWorker.Stop();
}

void CTarvLteHandler::ClearStatus(SStatus& status)
{
    status.carrier.clear();
    status.signal = Modem::SignalInfo{};
    status.context = Modem::PdpContext{};
    status.dnsServers.clear();
}

void CTarvLteHandler::Initialize()
{
    TLOG_FUNCTION();
    if (!IsSupported()) {
        TLOG_INFO("LTE not supported by hardware. Skipping initialization.");
        return;
    }
    // The mobile network's servers of an earlier run no longer hold.
    mDnsServers.Clear();
    if (!mModem->GetApnSettings()) {
        TLOG_ERROR("Incorrect APN settings. Aborting initialization.");
        return;
    }
    if (mModem->IsSerialPresent()) {
        // Still powered from an earlier run: start from a switched-off modem.
        try {
            bool ok = true;
            CTarvConnectionHandlerBase::Disable(ok);
            if (!ok) {
                TLOG_WARN("Could not disable LTE interface");
            }
        } catch (const CTarvException&) {
            TLOG_WARN("Could not disable LTE interface");
        }
        try {
            mModem->FastShutdown();
        } catch (const std::runtime_error& error) {
            TLOG_ERROR("Power down runtime error: {}.", error.what());
        } catch (...) {
            TLOG_ERROR("LTE Power down unknown error.");
        }
        TLOG_INFO("LTE disabled.");
    } else if (mConfig->GetBool(TarvLteEnable)) {
        TLOG_INFO("Initializing LTE modem...");
        mStateMachine->SetTargetState(EModemState::Initialized, nullptr);
    }
}

void CTarvLteHandler::Enable(bool& ok)
{
    TLOG_FUNCTION();
    if (!IsSupported()) {
        TLOG_WARN("LTE not supported");
        return;
    }
    mWorker.Start();
    static_cast<void>(ok);
    mWanted.store(true);
    TLOG_INFO("Enabling LTE network...");
    mStateMachine->SetTargetState(EModemState::Enabled, [this](bool) { EnableCallback(); });
}

// Runs on the modem state machine's worker when the modem is enabled, long
// after Enable returned: the caller's flag is gone by then, so a failure to
// bring lte0 up is logged here.
void CTarvLteHandler::EnableCallback()
{
    TLOG_FUNCTION();
    if (!mWanted.load()) {
        TLOG_INFO("Modem enabled after LTE was switched off, {} stays down", GetInterfaceName());
        return;
    }
    mWorker.BlockingCall([this] {
        mLastActivationTry = {};
        mActivationRetry = kFirstActivationRetry;
    });
    bool ok = true;
    CTarvConnectionHandlerBase::Enable(ok);
    if (!ok) {
        TLOG_ERROR("Could not bring {} up after the modem was enabled", GetInterfaceName());
    }
    std::string iccid;
    mModem->GetIccid(iccid);
    {
        std::unique_lock lock(mStatusMutex);
        mStatus.iccid = iccid;
    }
    StartUpdates();
}

void CTarvLteHandler::StartUpdates()
{
    std::lock_guard lock(mUpdateMutex);
    // A disable since the modem's enabling began: lte0 is not to come up again.
    if (!mWanted.load()) {
        return;
    }
    if (mUpdate) {
        mUpdate->Cancel();
    }
    mHalted.store(false);
    mUpdate = mWorker.AddCall(
        [this] {
            UpdateModemStatus();
            UpdateNetworkInterfaceStatus();
        },
        mClock->Now(), kUpdatePeriod);
}

void CTarvLteHandler::StopUpdates()
{
    mHalted.store(true);
    std::lock_guard lock(mUpdateMutex);
    if (mUpdate) {
        mUpdate->Cancel();
        mUpdate.reset();
    }
}

void CTarvLteHandler::MarkDisconnected()
{
    {
        std::unique_lock lock(mStatusMutex);
        mStatus.connected = false;
        mStatus.statusChanged = false;
        ClearStatus(mStatus);
    }
    // The network's servers leave the resolver with the connection.
    mDnsServers.Clear();
}

void CTarvLteHandler::Disable(bool& ok)
{
    TLOG_FUNCTION();
    if (!IsSupported()) {
        TLOG_WARN("Tried to disable LTE while it is not supported.");
        return;
    }
    // Without waiting for a pass in flight: it ends at its next check, and
    // switching the modem off needs no AT command.
    {
        std::lock_guard lock(mTargetMutex);
        mWanted.store(false);
    }
    StopUpdates();
    // An lte0 that refuses to go down is reported (rethrown below) after the
    // modem was told to switch off.
    std::exception_ptr downFailure;
    try {
        if (mErrorHandler->DoesIfExist(GetInterfaceName())) {
            CTarvConnectionHandlerBase::Disable(ok);
        }
    } catch (const CTarvException&) {
        downFailure = std::current_exception();
    }
    MarkDisconnected();
    SendRegistration(std::string(), std::string());
    SendDiagSignals();
    SendExtendedDiagSignals();
    // Whatever lte0's state: the modem may be powering up or recovering,
    // when lte0 does not exist yet.
    mStateMachine->SetTargetState(EModemState::Disabled, [this](bool) {
        SendRegistration(std::string(), std::string());
        MarkDisconnected();
        SendDiagSignals();
        SendExtendedDiagSignals();
    });
    if (downFailure) {
        std::rethrow_exception(downFailure);
    }
}

void CTarvLteHandler::FastShutdown()
{
    TLOG_FUNCTION();
    mModem->FastShutdown();
}

void CTarvLteHandler::UpdateModemSettings(bool& ok)
{
    TLOG_FUNCTION();
    if (!IsSupported()) {
        return;
    }
    // The same checks the modem makes before it uses the values: a value
    // refused here would otherwise stop the modem at its next start.
    bool valid = mModem->GetApnSettings().has_value();
    const std::string pin = mConfig->GetString(TarvLteSimPin);
    if (!pin.empty() && !CTarvValidation::IsSimPin(pin)) {
        TLOG_ERROR("SIM PIN refused: not 4 to 8 decimal digits");
        valid = false;
    }
    if (!valid) {
        ok = false;
        return;
    }
    if (!mStateMachine->Resume()) {
        return;
    }
    // The stop kept the last target, whatever was asked for since.
    if (mWanted.load()) {
        TLOG_INFO("LTE modem settings changed, starting the modem again");
        mStateMachine->SetTargetState(EModemState::Enabled, [this](bool) { EnableCallback(); });
    } else {
        mStateMachine->SetTargetState(EModemState::Disabled, nullptr);
    }
}

bool CTarvLteHandler::HandleModemEvents(const Modem::SModemEvents& events, SStatus& current)
{
    if (events.restarted) {
        TLOG_WARN("LTE modem restarted on its own, initialising it again");
        TriggerRecovery();
        return false;
    }
    if (events.contextLost) {
        TLOG_WARN("MobileNetwork: The network ended the PDP context");
        current.context.active = false; // checked in this pass
    }
    if (events.newSms) {
        TLOG_INFO("MobileNetwork: SMS received");
    }
    return true;
}

void CTarvLteHandler::UpdateModemStatus()
{
    TLOG_FUNCTION();
    if (mHalted.load()) {
        return;
    }
    SStatus current;
    {
        std::shared_lock lock(mStatusMutex);
        current = mStatus;
    }
    if (!HandleModemEvents(mModem->TakeEvents(), current)) {
        return;
    }
    SStatus next;
    next.imei = current.imei;
    if (next.imei.empty()) {
        mModem->GetImei(next.imei);
    }
    const bool registered = CheckRegistration();
    if (mHalted.load()) {
        return; // a recovery was triggered: nothing more is asked of the modem
    }
    const auto now = mClock->Now();
    next.imsi = current.imsi;
    if (next.imsi.empty() || now - mLastImsiRead > kRereadInterval) {
        mModem->GetImsi(next.imsi);
        mLastImsiRead = now;
    }
    next.context = current.context;
    if (registered) {
        ReadNetwork(current, next);
    }
    mModem->GetTemperatures(next.temperatures);
    if (!mModem->IsSmsEnabled() && !mHalted.load()) {
        TLOG_DEBUG("SMS not set up, trying again");
        CModemStateMachineImpl::SetUpSms(*mModem);
    }
    if (mSmsReboot.IsPending()) {
        mSmsReboot.RequestReboot(now);
    } else if (!mHalted.load()) {
        mSmsReboot.CheckMessages(now);
    }
    if (!mHalted.load()) {
        StoreStatus(registered, next);
    }
}

void CTarvLteHandler::ReadNetwork(const SStatus& current, SStatus& next)
{
    mModem->GetSignalInfo(next.signal);
    const auto now = mClock->Now();
    if (current.carrier.empty() || current.dnsServers.empty() || !current.context.active ||
        now - mLastDataCheck > kRereadInterval) {
        mModem->GetCarrier(next.carrier);
        if (next.carrier != CTarvValidation::Printable(next.carrier)) {
            TLOG_ERROR("MobileNetwork: Carrier name refused: '{}'", CTarvValidation::Printable(next.carrier));
            next.carrier.clear();
        }
        if (mHalted.load()) {
            return;
        }
        next.context = SuperviseDataContext();
        if (next.context.active) {
            mModem->GetDnsServers(next.dnsServers);
            next.dnsServers = CLteDnsServers::AddressesOnly(next.dnsServers);
            if (next.dnsServers.empty()) {
                TLOG_WARN("MobileNetwork: No DNS servers returned from network");
            }
        }
        mLastDataCheck = now;
    }
    if (!next.context.active) {
        return;
    }
    if (!current.context.active) {
        const std::string text = "LTE: PDP context activated, [" + next.context.type + ":" + next.context.ipAddress + "]";
        mConnectivitySignal.Send(text);
        TLOG_INFO("{}", text);
    } else if (next.context.ipAddress != current.context.ipAddress) {
        TLOG_INFO("{}", "LTE: IP Changed: [" + current.context.type + ":" + current.context.ipAddress + "] to [" +
                            next.context.type + ":" + next.context.ipAddress + "]");
    }
}

void CTarvLteHandler::StoreStatus(bool registered, const SStatus& next)
{
    bool dnsChanged = false;
    bool dnsLost = false;
    std::vector<std::string> storedDns;
    {
        std::unique_lock lock(mStatusMutex);
        const bool connected = registered && next.context.active;
        if (connected != mStatus.connected) {
            mStatus.connected = connected;
            mStatus.statusChanged = true;
        }
        mStatus.temperatures = next.temperatures;
        if (mStatus.imei.empty()) {
            mStatus.imei = next.imei;
        }
        if (next.imsi != mStatus.imsi) {
            TLOG_INFO("MobileNetwork: SIM switched IMSI from [{}] to [{}]", mStatus.imsi, next.imsi);
            mStatus.imsi = next.imsi;
        }
        if (!connected) {
            // The activation back-off keeps growing while disconnected: it
            // starts again only after a success or a new enable.
            dnsLost = !mStatus.dnsServers.empty();
            ClearStatus(mStatus);
        } else {
            mStatus.signal = next.signal;
            if (!next.carrier.empty() && next.carrier != mStatus.carrier) {
                TLOG_INFO("MobileNetwork: Carrier switched from [{}] to [{}]", mStatus.carrier, next.carrier);
                mStatus.carrier = next.carrier;
            }
            mStatus.context = next.context;
            dnsChanged = CLteDnsServers::Update(next.dnsServers, mStatus.dnsServers);
            storedDns = mStatus.dnsServers;
        }
    }
    // The resolver files are written outside the status lock.
    if (dnsChanged) {
        mDnsServers.Write(storedDns);
    } else if (dnsLost) {
        mDnsServers.Clear();
    }
}

void CTarvLteHandler::UpdateNetworkInterfaceStatus()
{
    bool connected = false;
    if (mHalted.load()) {
        return;
    }
    {
        std::unique_lock lock(mStatusMutex);
        if (!mStatus.statusChanged) {
            return;
        }
        mStatus.statusChanged = false;
        connected = mStatus.connected;
    }
    if (connected) {
        TLOG_INFO("Lte network reconnected, bringing lte0 interface up");
        mRunCommand->Run("ifup " + GetInterfaceName(), 0);
    } else {
        TLOG_INFO("Lte network disconnected, bringing lte0 interface down");
        mRunCommand->Run("ifdown " + GetInterfaceName(), 0);
    }
}

bool CTarvLteHandler::CheckRegistration()
{
    TLOG_FUNCTION();
    Modem::ERegistrationState lte = Modem::ERegistrationState::Unknown;
    Modem::ERegistrationState gsm = Modem::ERegistrationState::Unknown;
    const EAtResult lteResult = mModem->GetLteRegistrationStatus(lte);
    const EAtResult gsmResult = mModem->GetEgprsRegistrationStatus(gsm);
    SendRegistration(lteResult == EAtResult::Ok ? RegistrationText(lte) : "Error",
                     gsmResult == EAtResult::Ok ? RegistrationText(gsm) : "Error");

    if (lteResult == EAtResult::SerialError || gsmResult == EAtResult::SerialError) {
        TLOG_WARN("Serial error - triggering modem recovery");
        TriggerRecovery();
        return false;
    }
    if (lteResult == EAtResult::Timeout || gsmResult == EAtResult::Timeout) {
        if (mModem->ConsecutiveTimeouts() >= kTimeoutThreshold) {
            TLOG_WARN("AT Timeout threshold exceeded - triggering modem recovery");
            TriggerRecovery();
        }
        return false;
    }
    const bool lteOk = lteResult == EAtResult::Ok;
    const bool gsmOk = gsmResult == EAtResult::Ok;
    if ((lteOk && IsRegistered(lte)) || (gsmOk && IsRegistered(gsm))) {
        if (mDenied) {
            mConnectivitySignal.Send(std::string("LTE Registration retry: Registration accepted after prior denial"));
            TLOG_INFO("Registration accepted after registration denied");
            ResetRegistrationRetry();
        }
        return true;
    }
    if ((lteOk && IsRefused(lte)) || (gsmOk && IsRefused(gsm))) {
        HandleDenial();
    }
    return false;
}

void CTarvLteHandler::HandleDenial()
{
    if (mRetry && !mRetry->IsFinished()) {
        return;
    }
    TLOG_WARN("Mobile network registration denied. Registration could potentially be accepted depending on mobile "
              "network, otherwise active reconnect in {} minutes.",
              mRetryMinutes);
    mDenied = true;
    mRetry = mWorker.AddCall([this] { RetryRegistration(); }, mClock->Now() + std::chrono::minutes(mRetryMinutes));
}

void CTarvLteHandler::RetryRegistration()
{
    TLOG_FUNCTION();
    mConnectivitySignal.Send(std::string("LTE Registration retry: Soft reset modem"));
    TLOG_INFO("Retrying mobile network registration: Modem soft reset");
    if (mModem->SoftResetModem() != EAtResult::Ok) {
        TLOG_ERROR("Could not soft reset the LTE modem");
    }
    if (mModem->UnlockSim() != EAtResult::Ok) {
        TLOG_ERROR("Could not unlock SIM");
    }
    if (mRetryMinutes <= kMaxDoublingMinutes) {
        mRetryMinutes *= 2;
    }
}

void CTarvLteHandler::ResetRegistrationRetry()
{
    if (mRetry) {
        mRetry->Cancel();
        mRetry.reset();
    }
    mRetryMinutes = kFirstRetryMinutes;
    mDenied = false;
}

Modem::PdpContext CTarvLteHandler::SuperviseDataContext()
{
    Modem::PdpContext context;
    mModem->GetPdpContext(context);
    if (context.active) {
        return context;
    }
    const auto now = mClock->Now();
    if (now <= mLastActivationTry + mActivationRetry) {
        return context;
    }
    const bool firstTry = mLastActivationTry == IClock::time_point{};
    mLastActivationTry = now;
    TLOG_WARN("MobileNetwork: PDP context not active, attempt to activate...");
    if (mModem->ActivatePdpContext() != EAtResult::Ok) {
        if (!firstTry) {
            mActivationRetry = std::min(mActivationRetry * 2, kMaxActivationRetry);
        }
        TLOG_WARN("MobileNetwork: PDP context activation failed, retrying in {}s", mActivationRetry.count());
        return Modem::PdpContext{};
    }
    mModem->GetPdpContext(context);
    mActivationRetry = kFirstActivationRetry;
    return context;
}

void CTarvLteHandler::TriggerRecovery()
{
    TLOG_FUNCTION();
    StopUpdates();
    // A pass in flight when LTE is switched off sees the modem go (its
    // channel closed, its device gone): that is no fault to recover from.
    if (!mWanted.load()) {
        TLOG_INFO("LTE switched off, no modem recovery");
        return;
    }
    mRunCommand->Run("ifdown " + GetInterfaceName(), 0);
    MarkDisconnected();
    ResetRegistrationRetry();
    std::lock_guard lock(mTargetMutex);
    if (!mWanted.load()) {
        TLOG_INFO("LTE switched off, no modem recovery");
        return;
    }
    mStateMachine->SetTargetState(EModemState::Error, nullptr);
}

ipc::MNetStatus CTarvLteHandler::GetStatus()
{
    TLOG_FUNCTION();
    ipc::MNetStatus status;
    status.set_interface(ipc::ELte0);
    if (!mErrorHandler->DoesIfExist(GetInterfaceName())) {
        status.set_connectionstate(ipc::MNetStatus::ENotSet);
        return status;
    }
    std::shared_lock lock(mStatusMutex);
    status.set_connectionstate(mStatus.connected ? ipc::MNetStatus::EConnected : ipc::MNetStatus::EDisconnected);
    auto* info = status.mutable_lteinfo();
    info->set_iccid(mStatus.iccid);
    info->set_imsi(mStatus.imsi);
    info->set_imei(mStatus.imei);
    if (mStatus.connected) {
        info->set_carrier(mStatus.carrier);
        info->set_technology(mStatus.signal.technology);
        status.set_signalstrength(mStatus.signal.rssi);
        status.mutable_properties()->set_ipaddress(mStatus.context.ipAddress);
        // The network's servers in force; an absent one stays empty.
        if (!mStatus.dnsServers.empty()) {
            status.mutable_dns()->set_primarydns(mStatus.dnsServers[0]);
        }
        if (mStatus.dnsServers.size() > 1) {
            status.mutable_dns()->set_secondarydns(mStatus.dnsServers[1]);
        }
    }
    return status;
}

void CTarvLteHandler::SendDiagSignals()
{
    TLOG_FUNCTION();
    std::shared_lock lock(mStatusMutex);
    mLinkSignal->Send(mStatus.connected);
    mSignals.SendStatus(mStatus.carrier, mStatus.signal, mStatus.imsi);
}

void CTarvLteHandler::SendRegistration(const std::string& lte, const std::string& gsm)
{
    mSignals.SendRegistration(lte, gsm);
}

void CTarvLteHandler::SendExtendedDiagSignals()
{
    std::shared_lock lock(mStatusMutex);
    mSignals.SendExtended(mStatus.signal, mStatus.temperatures);
}
