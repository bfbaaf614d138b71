#include "src/tarv.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "statemachines/utils/statemachinesutility.h"

#include <csignal>

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

    ConnectIProcessControl(mActionHandler, mProcessControlService, std::static_pointer_cast<IHsmInterface>(mHsm));
    ConnectIStatemachine();
    ConnectITarvServices();
    ConnectIBoardControl();
}

CTarv::~CTarv()
{
    // Only reached without Run's orderly stop when construction or Run failed.
    StopHost();
}

void CTarv::ConnectIStatemachine()
{
    mProcessControlService->mEnableHandler = [machine = mHsm] {
        TLOG_INFO("ITarvControlEnable");
        return IEnableCall(*machine);
    };
    mProcessControlService->mDisableHandler = [machine = mHsm] {
        TLOG_INFO("ITarvControlDisable");
        return IDisableCall(*machine);
    };

    // The service owns the machine through its request handlers, which owns
    // the action handler: the callbacks hold the service only weakly.
    std::weak_ptr<CProcessControlService> service = mProcessControlService;
    const auto stateSender = [service](const char* name, ipc::MState::EState state) {
        return [service, name, state] {
            TLOG_INFO("{}", name);
            if (const auto s = service.lock()) {
                ipc::MState message;
                message.set_state(state);
                s->NotifyState(message);
            }
        };
    };
    mActionHandler->ExtUninitializedRsp = stateSender("ExtUninitializedRsp", ipc::MState::Uninitialized);
    mActionHandler->ExtDisabledRsp = stateSender("ExtDisabledRsp", ipc::MState::Disabled);
    mActionHandler->ExtEnabledRsp = stateSender("ExtEnabledRsp", ipc::MState::Enabled);
    mActionHandler->ExtErrorRsp = stateSender("ExtErrorRsp", ipc::MState::Error);
    mActionHandler->ExtFatalErrorRsp = stateSender("ExtFatalErrorRsp", ipc::MState::FatalError);
    mActionHandler->mAliveCallback = [service] {
        TLOG_TRACE("Alive");
        if (const auto s = service.lock()) {
            s->NotifyAlive();
        }
    };
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

    RunStateMachine();

    mProcessControlService.reset();
    mTarvService.reset();
    StopHost();
}

void CTarv::RunStateMachine()
{
    TLOG_INFO("Starting state machine");
    // The signal handler only wakes the watcher thread; the event is posted
    // from there, outside signal context.
    mInterrupts.Start([machine = mHsm](int signalNumber) {
        if (signalNumber == SIGINT) {
            machine->PostEvent(std::make_shared<TarvHsm::IntTerminate>());
        }
    });
    mHsm->Run();
    mInterrupts.Stop();
    // Requests that reach the ended machine are answered "Illegal" from now
    // on; none may stay blocked while the IPC host waits for its calls.
    mHsm->Close();
    TLOG_INFO("State machine stopped");
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
