#include "src/tarv.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "statemachines/utils/statemachinesutility.h"


CTarv::CTarv(const std::string& rootDirectory) : mRoot(rootDirectory)
{
    CRootDir::Set(mRoot);
    TLOG_INFO("Tarv starting with root directory '{}'", mRoot);

    mHost = std::make_shared<AppCommunicationHost<GrpcBackend>>(mRoot + "etc/iipc.json");
    mProcessControlService = std::make_shared<CProcessControlService>();
    mTarvService = std::make_shared<CTarvService>();
    mActionHandler = std::make_shared<CTarvHsmPlaceholderActionHandler>();
    mHsm = std::make_shared<CTarvHsm>(mActionHandler);

    mHost->AddService<IGenericControl>("TarvGenCtrl", mProcessControlService);
    mHost->AddService<ITarv>("Tarv", mTarvService);
    mHost->AddService<Rpc::ILogConfig>("TarvLog", Log::CreateLogConfigService());
    mDiagnosticsClient = std::make_shared<CDiagnosticsCommClient>();
    CDiagnosticsCommClient::Initialize(mHost);
    mBoardControl = mHost->CreateClient<IBoardControl>("BoardControl")->GetInterface();

    ConnectIStatemachine();
    ConnectITarvServices();
    ConnectIBoardControl();
}

CTarv::~CTarv()
{
    // Only reached without Run's orderly stop when construction or Run failed.
    StopHost();
}

// The daemon's own wiring logs its requests and state reports at info level.
void CTarv::ConnectIStatemachine()
{
    ConnectIProcessControl(mActionHandler, mProcessControlService, std::static_pointer_cast<IHsmInterface>(mHsm),
                           StatemachinesUtility::kDaemonWiring);
}

// Until the network actions exist the daemon is never "enabled" for the
// network service: every request gets its guard error and a refusal.
void CTarv::ConnectITarvServices()
{
    mTarvService->mScanWlanHandler = [] {
        TLOG_FUNCTION_OF(CTarv);
        ipc::MScanWlan reply;
        TLOG_ERROR("Illegal WLAN scan call: Tarv is not in enabled state");
        reply.set_success(false);
        return reply;
    };
    mTarvService->mValidateHandler = [] {
        TLOG_FUNCTION_OF(CTarv);
        TLOG_ERROR("Illegal validation call: Tarv is not in enabled state");
        return false;
    };
    mTarvService->mTriggerHandler = [](const ipc::MNetInterfaces&) {
        TLOG_FUNCTION_OF(CTarv);
        TLOG_ERROR("Illegal notification trigger call: Tarv is not in enabled state");
        return false;
    };
}

// The cellular fast shutdown on mains loss arrives with the LTE handler;
// until then a mains-lost notification has nothing to act on.
void CTarv::ConnectIBoardControl() const
{
    TLOG_FUNCTION();
    mBoardControl->SetMainsLostHandler([] {});
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
