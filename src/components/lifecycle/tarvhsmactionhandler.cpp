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
      mUpdater(mConfig, mHandlers, [this] { EnableNetworksReporting(); }),
      mStatusRequests(mConfig, mHandlers, mStatusSink),
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
    // The jobs go first: they use this worker's timers and the members. A
    // cancelled job still running may arm a timer through mJobs, so they are
    // closed while mJobs still points to them.
    mJobs->Close();
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

CTarvHsmActionHandler::EOutcome CTarvHsmActionHandler::RunAction(const char* failure, const char* typeError,
                                                                  const std::function<void()>& action)
{
    try {
        action();
        return EOutcome::Done;
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("{}", typeError);
        PostResult<TarvHsm::IntError>();
        return EOutcome::TypeError;
    } catch (const CTarvException&) {
        // Logged where it was thrown.
    } catch (const std::exception& e) {
        // Anything else escaping an action would end the machine, and the daemon with it.
        TLOG_ERROR("{}: {}", failure, e.what());
    }
    PostResult<TarvHsm::IntError>();
    return EOutcome::Failed;
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
    return RunAction("Network initialisation failed", "Wrong data type was used in the configuration files",
                     [this] { PrepareNetwork(); }) == EOutcome::Done;
}

void CTarvHsmActionHandler::PrepareNetwork()
{
    if (!mHandlers.IsComplete()) {
        TLOG_ERROR("Connection handlers were not properly initialized");
        throw CTarvException();
    }
    StopLeftoverCommands();
    const std::string hostname = PatchHostname();
    mHandlers.interfacesFileEditor->InitializeFile(hostname);
    mHandlers.ap->Initialize();
    mHandlers.lte->Initialize();
    mHandlers.plc->Initialize();
    if (CRootDir::Get() != "/") {
        // A daemon in a sandbox or a copy of an image sees the
        // machine's interfaces: their addresses are not its to change.
        TLOG_INFO("Root directory '{}' is not '/': MAC addresses left as they are", CRootDir::Get());
        return;
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
}

void CTarvHsmActionHandler::StopLeftoverCommands()
{
    // An ifup killed with its daemon keeps waiting for its lease and holds
    // the interface's lock: this run's first ifdown would wait for it until
    // its deadline. Under another root the machine's commands are not ours.
    if (mLeftoversStopped.exchange(true) || !mHandlers.processOwner || CRootDir::Get() != "/") {
        return;
    }
    std::vector<SProcessIdentity> identities;
    for (const char* program : {"ifup", "ifdown"}) {
        for (const std::string& name : {Tarv::kUap0, Tarv::kEth0, Tarv::kWlan0, Tarv::kLte0, Tarv::kPlc0}) {
            identities.push_back({.program = program, .pidFile = "", .interfaceName = name, .interfaceOperand = true});
        }
    }
    mHandlers.processOwner->StopLeftovers(identities, kLeftoverGrace);
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
    const auto start = [this] {
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
    };
    // After a type error of the hardware configuration the lifecycle still
    // hears that the interfaces were set up (the error comes first).
    if (RunAction("Status tracking could not start", "Wrong data type was used in the hardware configuration file",
                  start) == EOutcome::Failed) {
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
    RunAction("Enabling the interfaces failed", "Error while reading configuration files: Wrong data types present",
              [this] { EnableNetworks(); });
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
    CTarvInterfaceUpdater::RunStep([this](bool& own) { mHandlers.ap->Enable(own); }, ok, critical);
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
    mUpdater.Apply(keys, ok, critical);
    if (critical) {
        PostResult<TarvHsm::IntError>();
        return false;
    }
    return true;
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
    return mStatusRequests.Answer(interfaces);
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

bool CTarvHsmActionHandler::DisableHandlers()
{
    std::unique_lock lock(mUpdateMutex);
    const bool hasWlan = mConfig->GetBool(HwHasWlan);
    const bool hasLte = mConfig->GetBool(HwHasLte);
    const bool hasPlc = mConfig->GetBool(HwHasPlc);
    if (!mHandlers.IsComplete()) {
        TLOG_ERROR("Connection handlers were not properly initialized");
        PostResult<TarvHsm::IntError>();
        return false;
    }
    if (mApDisableCall) {
        mApDisableCall->Cancel();
    }
    // Each handler disables on its own: neither a non-critical nor a
    // critical failure of one keeps the others from going down.
    bool ok = true;
    bool critical = false;
    const auto disable = [&](CTarvConnectionHandlerBase& handler) {
        CTarvInterfaceUpdater::RunStep([&handler](bool& own) { handler.Disable(own); }, ok, critical);
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
        return false;
    }
    return true;
}

void CTarvHsmActionHandler::DisableAll()
{
    bool down = false;
    RunAction("Disabling the interfaces failed", "Wrong data type was used in the hardware configuration file",
              [&] { down = DisableHandlers(); });
    if (!down || CTarvInterfaceJobs::IsCancelled()) {
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
