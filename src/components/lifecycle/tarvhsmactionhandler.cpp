#include "src/components/lifecycle/tarvhsmactionhandler.h"

#include "platform/config/qeconfig.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/tarvexception.h"
#include "statemachines/tarvhsmevents.h"

#include <algorithm>
#include <cctype>
#include <malloc.h>
#include <stdexcept>

CTarvHsmActionHandler::CTarvHsmActionHandler(std::shared_ptr<ITarvConfig> config,
                                             std::shared_ptr<ITarvClient> statusSink,
                                             std::shared_ptr<IRunCommand> runCommand,
                                             std::shared_ptr<IHostnameManager> hostnameManager,
                                             std::shared_ptr<INtpManager> ntpManager, std::shared_ptr<IClock> clock)
    : CWorker("tarvhsm", std::move(clock)),
      mConfig(std::move(config)),
      mStatusSink(std::move(statusSink)),
      mRunCommand(std::move(runCommand)),
      mHostnameManager(std::move(hostnameManager)),
      mNtpManager(std::move(ntpManager)),
      mStatusTracker(*this, mStatusSink, [this] { PostErrorFromWorker(); })
{
    if (!mConfig || !mStatusSink || !mRunCommand || !mHostnameManager || !mNtpManager) {
        throw std::invalid_argument("CTarvHsmActionHandler: a collaborator is missing");
    }
    // A timed call or job that failed unexpectedly is an error of the lifecycle.
    SetErrorReporter([this](const std::string&) { PostErrorFromWorker(); });
    Start();
    // The access point's timer waits on this worker; its job runs with the others.
    mJobs = std::make_unique<CTarvInterfaceJobs>(*this, [this](const std::string&) { PostErrorFromWorker(); });
}

CTarvHsmActionHandler::~CTarvHsmActionHandler()
{
    // The jobs go first: they use this worker's timers and the members.
    mJobs.reset();
    Stop();
}

void CTarvHsmActionHandler::Sync()
{
    // Timers due hand their jobs over, and jobs may arm timers in turn.
    CWorker::Sync();
    mJobs->Sync();
    CWorker::Sync();
}

void CTarvHsmActionHandler::SetHandlers(STarvHandlerSet handlers)
{
    TLOG_FUNCTION();
    mHandlers = std::move(handlers);
}

void CTarvHsmActionHandler::PostErrorFromWorker() const
{
    try {
        Post<TarvHsm::IntError>();
    } catch (const std::logic_error&) {
        TLOG_WARN("Error not reported: no state machine");
    }
}

// ---------------------------------------------------------------------------
// Initialisation

void CTarvHsmActionHandler::IntInitializeNetwork()
{
    TLOG_FUNCTION();
    mJobs->RunNew([this] {
        if (InitializeNetwork()) {
            PostResult<TarvHsm::IntInitializingDone>();
        }
    });
}

bool CTarvHsmActionHandler::InitializeNetwork()
{
    TLOG_INFO("Initializing system's network");
    try {
        if (!mHandlers.IsComplete()) {
            TLOG_ERROR("Connection handlers were not properly initialized");
            throw CTarvException();
        }
        const std::string hostname = PatchHostname();
        mHandlers.interfacesFileEditor->InitializeFile(hostname);
        mHandlers.ap->Initialize();
        mHandlers.lte->Initialize();
        mHandlers.plc->Initialize();
        if (CRootDir::Get() != "/") {
            // A daemon in a sandbox or a copy of an image sees the
            // machine's interfaces: their addresses are not its to change.
            TLOG_INFO("Root directory '{}' is not '/': MAC addresses left as they are", CRootDir::Get());
            return true;
        }
        if (mConfig->GetBool(HwHasWlan)) {
            SetMacAddrs(Tarv::kUap0, mConfig->GetString(WlanApMacAddr));
            SetMacAddrs(Tarv::kWlan0, mConfig->GetString(WlanStaMacAddr));
        }
        if (mConfig->GetBool(HwHasEthernet)) {
            SetMacAddrs(Tarv::kEth0, mConfig->GetString(EthMacAddr));
        }
        if (mConfig->GetBool(HwHasPlc)) {
            SetMacAddrs(Tarv::kPlc0, mConfig->GetString(PlcMacAddr));
        }
        return true;
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Wrong data type was used in the configuration files");
    } catch (const CTarvException&) {
    } catch (const std::exception& e) {
        // Anything else escaping an action would end the machine, and the daemon with it.
        TLOG_ERROR("Network initialisation failed: {}", e.what());
    }
    PostResult<TarvHsm::IntError>();
    return false;
}

std::string CTarvHsmActionHandler::PatchHostname()
{
    TLOG_FUNCTION();
    std::string name = mConfig->GetString(Hostname);
    // A configured name that is no valid host name would land in
    // /etc/hosts and the interfaces file: it is replaced like a missing one.
    if (!name.empty() && name.size() <= kMaxHostnameLength && CTarvValidation::IsHostname(name)) {
        TLOG_INFO("Setting hostname: {}", name);
    } else {
        const std::string serial = mConfig->GetString(ProductSn);
        if (serial.size() != kProductSnLength) {
            TLOG_ERROR("Could not generate hostname, wrong ProductSn length: {} Expected: {}", serial.size(),
                       kProductSnLength);
            throw CTarvException();
        }
        name = kHostnamePrefix + serial;
        TLOG_WARN("Invalid hostname value in the config files. Using default value: {}", name);
    }
    if (!mHostnameManager->SetHostname(name)) {
        TLOG_ERROR("Failed to set the system's hostname.");
        throw CTarvException();
    }
    return name;
}

void CTarvHsmActionHandler::SetMacAddrs(const std::string& interfaceName, const std::string& macAddress)
{
    TLOG_FUNCTION();
    if (!mHandlers.errorHandler->DoesIfExist(interfaceName)) {
        TLOG_ERROR("{} is supported but it does not exist", interfaceName);
        throw CTarvException();
    }
    if (macAddress.empty()) {
        TLOG_ERROR("{}: MAC address is empty", interfaceName);
        throw CTarvException();
    }
    // The value goes into a command line: only a well-formed address may.
    if (!CTarvValidation::IsMacAddress(macAddress)) {
        TLOG_ERROR("{}: MAC address '{}' is not valid", interfaceName, CTarvValidation::Printable(macAddress));
        throw CTarvException();
    }
    const SCommandResult current = mRunCommand->Run("cat /sys/class/net/" + interfaceName + "/address", 0);
    if (current.output == macAddress) {
        TLOG_INFO("{} MAC address has already been set", interfaceName);
        return;
    }
    if (mRunCommand->Run("ifconfig " + interfaceName + " hw ether " + macAddress, 5).exitCode != 0) {
        TLOG_ERROR("Could not set {} MAC address", interfaceName);
        throw CTarvException();
    }
}

void CTarvHsmActionHandler::IntInitializeNtp()
{
    TLOG_FUNCTION();
    // After the network's initialisation, on the same worker.
    mJobs->RunInCurrent([this] {
        try {
            if (mNtpManager->Init()) {
                PostResult<TarvHsm::IntNtpInitialized>();
            }
            return;
        } catch (const QeConfig::CTypeError& e) {
            TLOG_ERROR("Wrong data type was used in the configuration files: {}", e.what());
        } catch (const std::exception& e) {
            TLOG_ERROR("NTP initialisation failed: {}", e.what());
        }
        // A server setting that cannot be read is an error of the
        // configuration: the lifecycle reports it and retries later.
        PostResult<TarvHsm::IntError>();
    });
}

void CTarvHsmActionHandler::IntStartNtpd()
{
    TLOG_FUNCTION();
    mNtpManager->StartNtpd();
}

// ---------------------------------------------------------------------------
// Enabling and configuration changes

void CTarvHsmActionHandler::IntSetTarvEnabled()
{
    TLOG_FUNCTION();
    // A disable shortly before planted a cancel of the poll: enabled again,
    // the poll must go on.
    {
        std::lock_guard lock(mDelayedCancelMutex);
        if (mDelayedCancelCall) {
            mDelayedCancelCall->Cancel();
            mDelayedCancelCall.reset();
        }
    }
    try {
        std::vector<std::shared_ptr<CTarvConnectionHandlerBase>> present;
        if (mConfig->GetBool(HwHasWlan)) {
            present.push_back(mHandlers.ap);
            present.push_back(mHandlers.wlan);
        }
        if (mConfig->GetBool(HwHasEthernet)) {
            present.push_back(mHandlers.eth);
        }
        if (mConfig->GetBool(HwHasLte)) {
            present.push_back(mHandlers.lte);
        }
        if (mConfig->GetBool(HwHasPlc)) {
            present.push_back(mHandlers.plc);
        }
        mStatusTracker.Start(present);
        // State 3 is reported right after this action: from here on the
        // requests that Enabled allows are accepted (they wait for the
        // enabling to finish where they need the handlers).
        mEnabled = true;
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Wrong data type was used in the hardware configuration file");
        Post<TarvHsm::IntError>();
    } catch (const CTarvException&) {
        Post<TarvHsm::IntError>();
        return;
    } catch (const std::exception& e) {
        TLOG_ERROR("Status tracking could not start: {}", e.what());
        Post<TarvHsm::IntError>();
        return;
    }
    Post<TarvHsm::IntTarvIfInit>();
}

void CTarvHsmActionHandler::IntEnableNetworks()
{
    TLOG_FUNCTION();
    // Off the machine's thread: a disable or SIGINT cancels it.
    mJobs->RunNew([this] { EnableNetworksReporting(); });
}

void CTarvHsmActionHandler::EnableNetworksReporting()
{
    std::lock_guard lock(mUpdateMutex);
    try {
        EnableNetworks();
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Error while reading configuration files: Wrong data types present");
        PostResult<TarvHsm::IntError>();
    } catch (const CTarvException&) {
        PostResult<TarvHsm::IntError>();
    } catch (const std::exception& e) {
        TLOG_ERROR("Enabling the interfaces failed: {}", e.what());
        PostResult<TarvHsm::IntError>();
    }
}

void CTarvHsmActionHandler::EnableNetworks()
{
    TLOG_INFO("Configuring supported interfaces.");
    std::vector<EConfigKey> keys;
    bool ok = true;
    const bool installationComplete = mConfig->GetBool(InstallationComplete);
    const bool wlanEnable = mConfig->GetBool(TarvWlanEnable);
    const bool hasEthernet = mConfig->GetBool(HwHasEthernet);
    const bool hasWlan = mConfig->GetBool(HwHasWlan);
    const bool hasLte = mConfig->GetBool(HwHasLte);
    const bool hasPlc = mConfig->GetBool(HwHasPlc);
    if (!hasWlan) {
        TLOG_ERROR("The device does not have WLAN interface which is required");
        throw CTarvException();
    }
    if (!mHandlers.IsComplete()) {
        TLOG_ERROR("Connection handlers were not properly initialized");
        throw CTarvException();
    }
    bool critical = false;
    RunStep([this](bool& own) { mHandlers.ap->Enable(own); }, ok, critical);
    if (installationComplete) {
        ScheduleApDisable();
    }
    if (hasEthernet) {
        keys.insert(keys.end(), {TarvEthEnable, TarvDnsAuto});
    }
    if (wlanEnable && !mConfig->GetString(TarvSsid).empty() && !mConfig->GetString(WlanStaPassword).empty()) {
        keys.insert(keys.end(), {TarvSsid, WlanStaPassword});
    }
    keys.push_back(TarvWlanEnable);
    if (hasLte) {
        keys.push_back(TarvLteEnable);
    }
    if (hasPlc) {
        keys.push_back(TarvPlcEnable);
    }
    // After a critical failure (reported once every handler has run) the
    // daemon is not enabled.
    if (!UpdateInterfacesOrReportError(keys, ok)) {
        return;
    }
    if (critical) {
        PostResult<TarvHsm::IntError>();
        return;
    }
    if (!ok) {
        TLOG_WARN("Not all interfaces were enabled due to non critical errors");
    } else {
        TLOG_INFO("All supported interfaces configured");
    }
    // Start-up and enabling leave freed heap behind; the daemon now idles for long.
    malloc_trim(0);
    PostResult<TarvHsm::IntEnablingDone>();
}

void CTarvHsmActionHandler::UpdateInterfaces(const std::vector<EConfigKey>& keys, bool& ok)
{
    TLOG_FUNCTION();
    // A disable or SIGINT cancels the change's commands too.
    mJobs->RunHere([&] { UpdateInterfacesOrReportError(keys, ok); });
}

bool CTarvHsmActionHandler::UpdateInterfacesOrReportError(const std::vector<EConfigKey>& keys, bool& ok)
{
    std::lock_guard lock(mUpdateMutex);
    if (!mHandlers.IsComplete()) {
        TLOG_ERROR("Connection handlers were not properly initialized");
        PostResult<TarvHsm::IntError>();
        return false;
    }
    if (keys.empty()) {
        TLOG_WARN("Nothing has changed but validation call was called");
        ok = false;
        return true;
    }
    bool critical = false;
    ApplyKeys(keys, ok, critical);
    if (critical) {
        PostResult<TarvHsm::IntError>();
        return false;
    }
    return true;
}

void CTarvHsmActionHandler::RunStep(const std::function<void(bool&)>& step, bool& ok, bool& critical)
{
    // Cancelled work starts no further step: its commands would not run.
    if (CTarvInterfaceJobs::IsCancelled()) {
        ok = false;
        return;
    }
    // A flag of its own: an earlier failure of another handler must not read
    // as one of this step, nor keep it from running.
    bool own = true;
    try {
        step(own);
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Wrong data type was used in the configuration files.");
        own = false;
    } catch (const CTarvException&) {
        own = false;
        critical = true;
    } catch (const std::exception& e) {
        TLOG_ERROR("Interface operation failed: {}", e.what());
        own = false;
        critical = true;
    }
    ok = ok && own;
}

void CTarvHsmActionHandler::ApplyKeys(const std::vector<EConfigKey>& keys, bool& ok, bool& critical)
{
    // One call per group of related keys, however many of them changed.
    bool ethPropertiesDone = false;
    bool wlanPropertiesDone = false;
    bool dnsDone = false;
    bool wlanConnectionDone = false;
    bool modemSettingsDone = false;
    const auto run = [&](const std::function<void(bool&)>& step) { RunStep(step, ok, critical); };
    const auto switchOf = [&](CTarvConnectionHandlerBase& handler, EConfigKey key) {
        run([&](bool& own) { EnableOrDisable(handler, key, own); });
    };
    for (const EConfigKey key : keys) {
        switch (key) {
        case InstallationComplete:
            TLOG_INFO("Update all interfaces because installation is done");
            EnableNetworksReporting();
            break;
        case TarvEthEnable:
        case TarvApEnable:
        case TarvPlcEnable:
            switchOf(key == TarvEthEnable ? *mHandlers.eth
                     : key == TarvApEnable ? *mHandlers.ap
                                           : *mHandlers.plc,
                     key);
            break;
        case TarvEthDhcpEnable:
        case TarvEthIpv4Addr:
        case TarvEthIpv4Netmask:
        case TarvEthGatewayAddr:
            if (!ethPropertiesDone) {
                TLOG_INFO("Update eth properties");
                run([this](bool& own) { mHandlers.ethControl->SetIfProperties(own); });
                ethPropertiesDone = true;
            }
            break;
        case TarvDnsAuto:
        case TarvPreferredDnsServerAddr:
        case TarvAlternativeDnsServerAddr:
            if (!dnsDone) {
                TLOG_INFO("Configuring DNS");
                run([this](bool& own) { mHandlers.ethControl->SetDns(own); });
                dnsDone = true;
            }
            break;
        case TarvWlanEnable:
            // Enabling connects with the current credentials itself, and applying them enables.
            if (!wlanConnectionDone || !mConfig->GetBool(TarvWlanEnable)) {
                switchOf(*mHandlers.wlan, key);
            }
            wlanConnectionDone = true;
            break;
        case TarvSsid:
        case WlanStaPassword:
            if (!wlanConnectionDone) {
                TLOG_INFO("Update/make WLAN connection");
                run([this](bool& own) { mHandlers.wlanControl->SetCredentialsAndEnable(own); });
                wlanConnectionDone = true;
            }
            break;
        case TarvWlanDhcpEnable:
        case TarvWlanIpv4Addr:
        case TarvWlanIpv4Netmask:
            if (!wlanPropertiesDone) {
                TLOG_INFO("Update WLAN properties");
                run([this](bool& own) { mHandlers.wlanControl->SetIfProperties(own); });
                wlanPropertiesDone = true;
            }
            break;
        case TarvLteEnable:
            run([&](bool& own) {
                if (mConfig->GetBool(HwHasLte)) {
                    EnableOrDisable(*mHandlers.lte, key, own);
                }
            });
            break;
        case TarvLteApn:
        case TarvLteApnUser:
        case TarvLteApnPass:
        case TarvLteApnAuth:
        case TarvLteApnIp:
        case TarvLteSimPin:
            // Checked now, so that a refused value reaches the client.
            if (!modemSettingsDone) {
                run([this](bool& own) {
                    if (mConfig->GetBool(HwHasLte)) {
                        mHandlers.lteControl->UpdateModemSettings(own);
                    }
                });
                modemSettingsDone = true;
            }
            break;
        default:
            break;
        }
    }
}

void CTarvHsmActionHandler::EnableOrDisable(CTarvConnectionHandlerBase& handler, EConfigKey key, bool& ok)
{
    if (mConfig->GetBool(key)) {
        handler.Enable(ok);
    } else {
        handler.Disable(ok);
    }
}

void CTarvHsmActionHandler::ScheduleApDisable()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mUpdateMutex);
    TLOG_INFO("AP will be enabled for {} minutes", kApEnabledTime.count());
    if (mApDisableCall) {
        mApDisableCall->Cancel();
    }
    // On the interfaces' worker, so that it never runs beside another
    // change of the access point.
    mApDisableCall = mJobs->RunAt([this] { DisableApAfterTimeout(); }, Clock().Now() + kApEnabledTime);
}

void CTarvHsmActionHandler::DisableApAfterTimeout()
{
    // Runs on the worker: nothing may escape it, failures go to the lifecycle.
    std::lock_guard lock(mUpdateMutex);
    if (CTarvInterfaceJobs::IsCancelled()) {
        return; // the lifecycle stopped or disabled everything meanwhile
    }
    try {
        if (mConfig->GetBool(TarvApEnable)) {
            return;
        }
        TLOG_INFO("{} minutes has passed, disabling AP", kApEnabledTime.count());
        bool ok = true;
        mHandlers.ap->Disable(ok);
        if (ok) {
            return;
        }
        TLOG_ERROR("Could not disable AP after timeout");
    } catch (const std::exception& e) {
        TLOG_ERROR("Could not disable AP after timeout: {}", e.what());
    }
    PostErrorFromWorker();
}

bool CTarvHsmActionHandler::TriggerStatusNotification(const ipc::MNetInterfaces& interfaces)
{
    TLOG_FUNCTION();
    struct SRow {
        EConfigKey hardwareKey;
        std::shared_ptr<CTarvConnectionHandlerBase> handler;
        const char* absent;
    };
    // A request may name an interface many times, or carry any number of
    // values no interface has: each interface is answered and each complaint
    // logged once per request, however long the list.
    std::vector<int> asked; // in the order of the request
    std::size_t unknown = 0;
    for (const int value : interfaces.interfaces()) {
        switch (value) {
        case ipc::EUap0:
        case ipc::EEth0:
        case ipc::EWlan0:
        case ipc::ELte0:
        case ipc::EPlc0:
            if (std::find(asked.begin(), asked.end(), value) == asked.end()) {
                asked.push_back(value);
            }
            break;
        default: ++unknown; break;
        }
    }
    if (unknown > 0) {
        TLOG_WARN("Unknown interface: {} of the {} values requested ignored", unknown, interfaces.interfaces_size());
    }
    bool result = true;
    for (const int value : asked) {
        SRow row{};
        switch (value) {
        case ipc::EUap0: row = {HwHasWlan, mHandlers.ap, "AP interface is not supported"}; break;
        case ipc::EEth0: row = {HwHasEthernet, mHandlers.eth, "Ethernet interface is not supported"}; break;
        case ipc::EWlan0: row = {HwHasWlan, mHandlers.wlan, "WLAN interface is not supported"}; break;
        case ipc::ELte0: row = {HwHasLte, mHandlers.lte, "LTE interface is not supported"}; break;
        default: row = {HwHasPlc, mHandlers.plc, "PLC interface is not supported"}; break;
        }
        if (!mConfig->GetBool(row.hardwareKey) || !row.handler) {
            TLOG_WARN("{}", row.absent);
            result = false;
            continue;
        }
        mStatusSink->NotifyStatus(row.handler->GetStatus());
    }
    return result;
}

// ---------------------------------------------------------------------------
// Disabling, errors and recovery

void CTarvHsmActionHandler::IntDisableAll()
{
    TLOG_FUNCTION();
    TLOG_INFO("Disabling all supported interfaces");
    // Whatever the interfaces' worker is doing (an ifup waiting for its
    // lease, say) is cancelled, and the disable follows it at once.
    mJobs->RunNew([this] { DisableAll(); });
}

void CTarvHsmActionHandler::DisableAll()
{
    try {
        std::unique_lock lock(mUpdateMutex);
        const bool hasWlan = mConfig->GetBool(HwHasWlan);
        const bool hasLte = mConfig->GetBool(HwHasLte);
        const bool hasPlc = mConfig->GetBool(HwHasPlc);
        if (!mHandlers.IsComplete()) {
            TLOG_ERROR("Connection handlers were not properly initialized");
            PostResult<TarvHsm::IntError>();
            return;
        }
        if (mApDisableCall) {
            mApDisableCall->Cancel();
        }
        // Each handler disables on its own: neither a non-critical nor a
        // critical failure of one keeps the others from going down.
        bool ok = true;
        bool critical = false;
        const auto disable = [&](CTarvConnectionHandlerBase& handler) {
            RunStep([&handler](bool& own) { handler.Disable(own); }, ok, critical);
        };
        if (hasWlan) {
            disable(*mHandlers.ap);
            disable(*mHandlers.wlan);
        }
        if (hasLte) {
            disable(*mHandlers.lte);
        }
        if (hasPlc) {
            disable(*mHandlers.plc);
        }
        if (critical) {
            PostResult<TarvHsm::IntError>();
            return;
        }
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Wrong data type was used in the hardware configuration file");
        PostResult<TarvHsm::IntError>();
        return;
    } catch (const std::exception& e) {
        TLOG_ERROR("Disabling the interfaces failed: {}", e.what());
        PostResult<TarvHsm::IntError>();
        return;
    }
    if (CTarvInterfaceJobs::IsCancelled()) {
        return;
    }
    {
        std::lock_guard lock(mDelayedCancelMutex);
        if (mDelayedCancelCall) {
            mDelayedCancelCall->Cancel();
        }
        mDelayedCancelCall = AddCall([this] { mStatusTracker.CancelTimers(); }, Clock().Now() + kPollStopDelay);
    }
    PostResult<TarvHsm::IntDisablingDone>();
}

void CTarvHsmActionHandler::IntSetTarvNotEnabled()
{
    TLOG_FUNCTION();
    mEnabled = false;
}

void CTarvHsmActionHandler::IntStopWorkerThread()
{
    TLOG_FUNCTION();
    // The interfaces' work in progress ends with its current command; the
    // machine does not wait for it (nor for a change request's).
    mJobs->CancelAll();
    mStatusTracker.CancelTimers();
    {
        std::lock_guard lock(mDelayedCancelMutex);
        if (mDelayedCancelCall) {
            mDelayedCancelCall->Cancel();
        }
    }
    CancelAliveTimer();
    {
        std::lock_guard lock(mRecoveryMutex);
        mRecovery.Cancel();
    }
    // The timed calls of this worker only: the jobs' worker may still be
    // ending a cancelled job, and the access point's timer there now does
    // nothing (its generation is cancelled).
    CWorker::Sync();
    Post<TarvHsm::IntStopWorkerThreadDone>();
}

void CTarvHsmActionHandler::IntHandleError()
{
    TLOG_FUNCTION();
    // The retry posts IntRecoveryDone until a recovery attempt starts.
    std::lock_guard lock(mRecoveryMutex);
    mRecovery.Arm(*this, [this] {
        try {
            Post<TarvHsm::IntRecoveryDone>();
        } catch (const std::logic_error&) {
            TLOG_WARN("Recovery retry dropped: no state machine");
        }
    });
}

void CTarvHsmActionHandler::IntStopRecovery()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mRecoveryMutex);
    mRecovery.Cancel();
}

void CTarvHsmActionHandler::IntReinitialize()
{
    TLOG_FUNCTION();
    // No further retries while this one runs; a failure posts IntError, and
    // entering Error arms the next retry with a longer delay.
    {
        std::lock_guard lock(mRecoveryMutex);
        mRecovery.Cancel();
    }
    mJobs->RunNew([this] {
        if (InitializeNetwork()) {
            {
                std::lock_guard lock(mRecoveryMutex);
                mRecovery.Reset();
            }
            PostResult<TarvHsm::IntRecoveringDone>();
        }
    });
}
