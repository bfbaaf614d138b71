#include "src/components/lifecycle/tarvhsmactionhandler.h"

#include "platform/config/qeconfig.h"
#include "platform/log/log.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/tarvexception.h"
#include "src/components/system/utility.h"
#include "statemachines/tarvhsmevents.h"

#include <cctype>
#include <malloc.h>
#include <stdexcept>

namespace {

// Six pairs of hexadecimal digits separated by colons, either letter case.
bool IsMacAddress(const std::string& text)
{
    if (text.size() != 17) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

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
    // A timed call that failed unexpectedly is an error of the lifecycle.
    SetErrorReporter([this](const std::string&) { PostErrorFromWorker(); });
    Start();
}

CTarvHsmActionHandler::~CTarvHsmActionHandler()
{
    Stop();
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
    if (InitializeNetwork()) {
        Post<TarvHsm::IntInitializingDone>();
    }
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
    Post<TarvHsm::IntError>();
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
    if (!IsMacAddress(macAddress)) {
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
    if (mNtpManager->Init()) {
        Post<TarvHsm::IntNtpInitialized>();
    }
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
    if (mDelayedCancelCall) {
        mDelayedCancelCall->Cancel();
        mDelayedCancelCall.reset();
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
    std::lock_guard lock(mUpdateMutex);
    try {
        EnableNetworks();
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Error while reading configuration files: Wrong data types present");
        Post<TarvHsm::IntError>();
    } catch (const CTarvException&) {
        Post<TarvHsm::IntError>();
    } catch (const std::exception& e) {
        TLOG_ERROR("Enabling the interfaces failed: {}", e.what());
        Post<TarvHsm::IntError>();
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
        Post<TarvHsm::IntError>();
        return;
    }
    if (!ok) {
        TLOG_WARN("Not all interfaces were enabled due to non critical errors");
    }
    mEnabled = true;
    // Start-up and enabling leave freed heap behind; the daemon now idles for long.
    malloc_trim(0);
    Post<TarvHsm::IntEnablingDone>();
}

void CTarvHsmActionHandler::UpdateInterfaces(const std::vector<EConfigKey>& keys, bool& ok)
{
    TLOG_FUNCTION();
    UpdateInterfacesOrReportError(keys, ok);
}

bool CTarvHsmActionHandler::UpdateInterfacesOrReportError(const std::vector<EConfigKey>& keys, bool& ok)
{
    std::lock_guard lock(mUpdateMutex);
    if (!mHandlers.IsComplete()) {
        TLOG_ERROR("Connection handlers were not properly initialized");
        Post<TarvHsm::IntError>();
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
        Post<TarvHsm::IntError>();
        return false;
    }
    return true;
}

void CTarvHsmActionHandler::RunStep(const std::function<void(bool&)>& step, bool& ok, bool& critical)
{
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
    const auto run = [&](const std::function<void(bool&)>& step) { RunStep(step, ok, critical); };
    const auto switchOf = [&](CTarvConnectionHandlerBase& handler, EConfigKey key) {
        run([&](bool& own) { EnableOrDisable(handler, key, own); });
    };
    for (const EConfigKey key : keys) {
        switch (key) {
        case InstallationComplete:
            TLOG_INFO("Update all interfaces because installation is done");
            IntEnableNetworks();
            break;
        case TarvEthEnable:
            switchOf(*mHandlers.eth, key);
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
            // Enabling connects with the current credentials itself; after
            // the credentials were applied (which enables) a second enable
            // would only start the supplicant again.
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
        case TarvApEnable:
            switchOf(*mHandlers.ap, key);
            break;
        case TarvLteEnable:
            run([&](bool& own) {
                if (mConfig->GetBool(HwHasLte)) {
                    EnableOrDisable(*mHandlers.lte, key, own);
                }
            });
            break;
        case TarvPlcEnable:
            switchOf(*mHandlers.plc, key);
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
    mApDisableCall = AddCall([this] { DisableApAfterTimeout(); }, Clock().Now() + kApEnabledTime);
}

void CTarvHsmActionHandler::DisableApAfterTimeout()
{
    // Runs on the worker: nothing may escape it, failures go to the lifecycle.
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
    bool result = true;
    for (const int value : interfaces.interfaces()) {
        SRow row{};
        switch (value) {
        case ipc::EUap0: row = {HwHasWlan, mHandlers.ap, "AP interface is not supported"}; break;
        case ipc::EEth0: row = {HwHasEthernet, mHandlers.eth, "Ethernet interface is not supported"}; break;
        case ipc::EWlan0: row = {HwHasWlan, mHandlers.wlan, "WLAN interface is not supported"}; break;
        case ipc::ELte0: row = {HwHasLte, mHandlers.lte, "LTE interface is not supported"}; break;
        case ipc::EPlc0: row = {HwHasPlc, mHandlers.plc, "PLC interface is not supported"}; break;
        default:
            TLOG_WARN("Unknown interface");
            continue;
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
    try {
        std::unique_lock lock(mUpdateMutex);
        const bool hasWlan = mConfig->GetBool(HwHasWlan);
        const bool hasLte = mConfig->GetBool(HwHasLte);
        const bool hasPlc = mConfig->GetBool(HwHasPlc);
        if (!mHandlers.IsComplete()) {
            TLOG_ERROR("Connection handlers were not properly initialized");
            Post<TarvHsm::IntError>();
            return;
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
        if (mApDisableCall) {
            mApDisableCall->Cancel();
        }
        // The AP timer's call never takes the lock: waiting for it here is safe.
        lock.unlock();
        Sync();
        if (critical) {
            Post<TarvHsm::IntError>();
            return;
        }
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Wrong data type was used in the hardware configuration file");
        Post<TarvHsm::IntError>();
        return;
    } catch (const std::exception& e) {
        TLOG_ERROR("Disabling the interfaces failed: {}", e.what());
        Post<TarvHsm::IntError>();
        return;
    }
    if (mDelayedCancelCall) {
        mDelayedCancelCall->Cancel();
    }
    mDelayedCancelCall = AddCall([this] { mStatusTracker.CancelTimers(); }, Clock().Now() + kPollStopDelay);
    Post<TarvHsm::IntDisablingDone>();
}

void CTarvHsmActionHandler::IntSetTarvNotEnabled()
{
    TLOG_FUNCTION();
    mEnabled = false;
}

void CTarvHsmActionHandler::IntStopWorkerThread()
{
    TLOG_FUNCTION();
    mStatusTracker.CancelTimers();
    {
        std::lock_guard lock(mUpdateMutex);
        if (mApDisableCall) {
            mApDisableCall->Cancel();
        }
    }
    if (mDelayedCancelCall) {
        mDelayedCancelCall->Cancel();
    }
    CancelAliveTimer();
    mRecovery.Cancel();
    Sync();
    Post<TarvHsm::IntStopWorkerThreadDone>();
}

void CTarvHsmActionHandler::IntHandleError()
{
    TLOG_FUNCTION();
    // The retry posts IntRecoveryDone until a recovery attempt starts.
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
    mRecovery.Cancel();
}

void CTarvHsmActionHandler::IntReinitialize()
{
    TLOG_FUNCTION();
    // No further retries while this one runs; a failure posts IntError, and
    // entering Error arms the next retry with a longer delay.
    mRecovery.Cancel();
    if (InitializeNetwork()) {
        mRecovery.Reset();
        Post<TarvHsm::IntRecoveringDone>();
    }
}
