#include "src/tarv.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/communicationexception.h"
#include "platform/ipc/diagnosticssignal.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/links/tarverrorhandler.h"
#include "src/components/links/tarvnetlink.h"
#include "src/components/system/hostnamemanager.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/resolverpaths.h"
#include "src/components/system/runcommand.h"
#include "src/components/system/tarvdnsmanager.h"
#include "src/components/system/tarvinterfacesfileeditor.h"
#include "src/components/time/ntpmanager.h"
#include "src/handlerset.h"
#include "src/roothostnamemanager.h"
#include "statemachines/utils/statemachinesutility.h"

CTarv::CTarv(const std::string& rootDirectory) : mRoot(rootDirectory)
{
    CRootDir::Set(mRoot);
    TLOG_INFO("Tarv starting with root directory '{}'", mRoot);

    auto onError = [this](const std::string& message) { OnConfigError(message); };
    auto settings = QeConfig::Create("settings", onError);
    auto hwinfo = QeConfig::CreateReadOnly("hwinfo", onError, true);
    auto secrets = QeConfig::Create("secrets", onError);
    auto network = QeConfig::Create("network", onError);
    mConfig = std::make_shared<CTarvConfig>(settings, hwinfo, secrets, network);

    auto runCommand = std::make_shared<CRunCommand>();
    auto netlink = std::make_shared<CTarvNetlink>();
    auto errorHandler = std::make_shared<CTarvErrorHandler>(runCommand, netlink);
    auto interfacesFileEditor =
        std::make_shared<CTarvInterfacesFileEditor>(runCommand, mConfig, "/etc/network/interfaces");
    // Only the station's own daemon (root "/") names the machine it runs on.
    auto hostnameManager = mRoot == "/"
                               ? std::make_shared<CHostnameManager>("/etc/hosts", "/etc/hostname")
                               : std::make_shared<CRootHostnameManager>("/etc/hosts", "/etc/hostname");
    auto lteDns = std::make_shared<CTarvDnsManager>(Tarv::kLte0, Tarv::kResolvConfDir, runCommand);
    auto ethDns = std::make_shared<CTarvDnsManager>(Tarv::kEth0, Tarv::kResolvConfDir, runCommand);
    auto ntpManager = std::make_shared<CNtpManager>(mConfig, runCommand);

    mHost = std::make_shared<AppCommunicationHost<GrpcBackend>>(mRoot + "etc/iipc.json");
    mProcessControlService = std::make_shared<CProcessControlService>();
    mTarvService = std::make_shared<CTarvService>();
    mActionHandler = std::make_shared<CTarvHsmActionHandler>(mConfig, mTarvService, runCommand, hostnameManager,
                                                             ntpManager);
    mHsm = std::make_shared<CTarvHsm>(mActionHandler);

    mHost->AddService<IGenericControl>("TarvGenCtrl", mProcessControlService);
    mHost->AddService<ITarv>("Tarv", mTarvService);
    mHost->AddService<Rpc::ILogConfig>("TarvLog", Log::CreateLogConfigService());
    mDiagnosticsClient = std::make_shared<CDiagnosticsCommClient>();
    CDiagnosticsCommClient::Initialize(mHost);
    mBoardControl = mHost->CreateClient<IBoardControl>("BoardControl")->GetInterface();

    // The handlers read their hardware flags as they are built: an unreadable
    // or mistyped hwinfo.json must not end the daemon here. Without handlers
    // the machine can only reach FatalError, which the error below asks for.
    try {
        mHandlers = MakeHandlerSet({mConfig, runCommand, netlink, errorHandler, interfacesFileEditor,
                                    hostnameManager, ethDns, lteDns, mBoardControl});
    } catch (const QeConfig::CInvalidConfig& e) {
        OnConfigError(std::string("connection handlers not built: ") + e.what());
    } catch (const QeConfig::CTypeError& e) {
        OnConfigError(std::string("connection handlers not built: ") + e.what());
    }
    mActionHandler->SetHandlers(mHandlers);

    ConnectIStatemachine();
    ConnectITarvServices();
    ConnectIBoardControl();

    // An error reported while the sources were opened waited for the
    // diagnostics client and the machine: the daemon starts into FatalError.
    bool pending = false;
    {
        std::lock_guard lock(mConfigErrorMutex);
        mServicesRegistered = true;
        pending = mConfigErrorPending;
        mConfigErrorPending = false;
    }
    if (pending) {
        ReportFatalConfigError();
    }
}

CTarv::~CTarv()
{
    // Only reached without Run's orderly stop when construction or Run failed.
    StopHost();
}

void CTarv::OnConfigError(const std::string& message)
{
    TLOG_ERROR("Config error occurred: {}", message);
    {
        std::lock_guard lock(mConfigErrorMutex);
        if (!mServicesRegistered) {
            mConfigErrorPending = true;
            return;
        }
    }
    ReportFatalConfigError();
}

void CTarv::ReportFatalConfigError()
{
    CDiagnosticsSignal<bool>(&Signals::kInvalidConfigValueError).Send(true);
    mHsm->PostEvent(std::make_shared<TarvHsm::IntFatalError>());
}

// The daemon's own wiring logs its requests and state reports at info level.
void CTarv::ConnectIStatemachine()
{
    ConnectIProcessControl(mActionHandler, mProcessControlService, std::static_pointer_cast<IHsmInterface>(mHsm),
                           StatemachinesUtility::kDaemonWiring);
}

// The handlers hold the action handler weakly: the service outlives nothing
// it was built from, and a request arriving during shutdown is refused.
void CTarv::ConnectITarvServices()
{
    std::weak_ptr<CTarvHsmActionHandler> weakActions = mActionHandler;
    auto enabledActions = [weakActions]() -> std::shared_ptr<CTarvHsmActionHandler> {
        auto actions = weakActions.lock();
        return actions && actions->IsTarvEnabled() ? actions : nullptr;
    };
    mTarvService->mScanWlanHandler = [enabledActions, scanner = mHandlers.wlanControl] {
        TLOG_FUNCTION_OF(CTarv);
        ipc::MScanWlan reply;
        if (!enabledActions()) {
            TLOG_ERROR("Illegal WLAN scan call: Tarv is not in enabled state");
            reply.set_success(false);
            return reply;
        }
        try {
            reply = scanner->ScanWlan();
        } catch (...) {
            TLOG_ERROR("Scan returned unkown Error");
            reply = ipc::MScanWlan();
            reply.set_success(false);
        }
        return reply;
    };
    mTarvService->mValidateHandler = [enabledActions, config = mConfig] {
        TLOG_FUNCTION_OF(CTarv);
        const auto actions = enabledActions();
        if (!actions) {
            TLOG_ERROR("Illegal validation call: Tarv is not in enabled state");
            return false;
        }
        try {
            // The client wrote its change before asking: make sure it has
            // reached the change record.
            QeConfig::SyncChanges();
            bool ok = true;
            actions->UpdateInterfaces(config->CheckChanges(), ok);
            return ok;
        } catch (const QeConfig::CInvalidConfig& e) {
            TLOG_ERROR("Config files formatting error: {}", e.what());
            return false;
        }
    };
    mTarvService->mTriggerHandler = [enabledActions](const ipc::MNetInterfaces& interfaces) {
        TLOG_FUNCTION_OF(CTarv);
        const auto actions = enabledActions();
        if (!actions) {
            TLOG_ERROR("Illegal notification trigger call: Tarv is not in enabled state");
            return false;
        }
        try {
            return actions->TriggerStatusNotification(interfaces);
        } catch (const QeConfig::CInvalidConfig& e) {
            TLOG_ERROR("Config files formatting error: {}", e.what());
        } catch (const Rpc::CommunicationException& e) {
            TLOG_ERROR("Failed to send notification. Error: '{}'.", e.what());
        }
        return false;
    };
}

// On mains loss the modem is powered down quickly, before the supply fails.
void CTarv::ConnectIBoardControl() const
{
    TLOG_FUNCTION();
    // The LTE handler holds the board-control client for its reboot request:
    // a weak reference here keeps the two from owning each other.
    mBoardControl->SetMainsLostHandler([config = mConfig, weakLte = std::weak_ptr<ITarvLteControl>(mHandlers.lteControl)] {
        try {
            if (!config->GetBool(HwHasLte) || !config->GetBool(TarvLteEnable)) {
                return;
            }
        } catch (const std::exception& e) {
            TLOG_ERROR("Mains lost: cannot read the LTE configuration: {}", e.what());
            return;
        }
        const auto lte = weakLte.lock();
        if (!lte) {
            return;
        }
        TLOG_WARN("Mainslost, LTE modem fast shutdown.");
        lte->FastShutdown();
    });
}

void CTarv::Run()
{
    mHost->StartServices();
    mServerThread = std::thread([host = mHost] { host->RunServer(); });
    mClientThread = std::thread([host = mHost] { host->HandleClientNotifications(); });

    mMachineRunner.Run(*mHsm);

    mProcessControlService.reset();
    mTarvService.reset();
    StopHost();
}

void CTarv::StopHost()
{
    CDiagnosticsCommClient::Terminate();
    if (mHost) {
        mHost->Stop();
    }
    if (mServerThread.joinable()) {
        mServerThread.join();
    }
    if (mClientThread.joinable()) {
        mClientThread.join();
    }
}
