#pragma once
// The daemon's application object: opens the configuration, builds every
// component in a fixed order, registers the IPC services, wires requests,
// notifications and lifecycle reports, runs the lifecycle machine on the
// calling thread until SIGINT stops it, then stops the IPC host.

#include "platform/config/qeconfig.h"
#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "src/components/config/tarvconfig.h"
#include "src/components/lifecycle/tarvhsmactionhandler.h"
#include "src/machinerunner.h"
#include "src/processcontrolservice.h"
#include "src/tarvservice.h"
#include "statemachines/tarvhsm.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CTarv {
public:
    // Throws when the IPC configuration "<root>etc/iipc.json" is missing or
    // malformed, or a part cannot be built. rootDirectory ends with '/'.
    explicit CTarv(const std::string& rootDirectory);
    ~CTarv();
    CTarv(const CTarv&) = delete;
    CTarv& operator=(const CTarv&) = delete;

    // Serves IPC, runs the state machine until it stops, then stops the host.
    void Run();

private:
    // Called by the configuration library with an error text, on any thread.
    void OnConfigError(const std::string& message);
    void ReportFatalConfigError();
    void ConnectIStatemachine();
    void ConnectITarvServices();
    void ConnectIBoardControl() const;
    void StopHost();

    // Declared first so that it outlives the configuration sources, whose
    // watcher thread may report an error until they are gone.
    std::mutex mConfigErrorMutex;
    bool mServicesRegistered = false;  // guarded by mConfigErrorMutex
    bool mConfigErrorPending = false;  // guarded by mConfigErrorMutex

    std::string mRoot;
    // Set during construction on the main thread, read-only afterwards
    // (the services are released by Run after the machine has stopped).
    std::shared_ptr<AppCommunicationHost<GrpcBackend>> mHost;
    std::shared_ptr<CProcessControlService> mProcessControlService;
    std::shared_ptr<CTarvService> mTarvService;
    std::shared_ptr<CDiagnosticsCommClient> mDiagnosticsClient;
    std::shared_ptr<IBoardControl> mBoardControl;
    std::shared_ptr<CTarvHsmActionHandler> mActionHandler;
    std::shared_ptr<CTarvHsm> mHsm;
    STarvHandlerSet mHandlers;
    std::shared_ptr<CTarvConfig> mConfig;
    std::thread mServerThread;
    std::thread mClientThread;
    CMachineRunner mMachineRunner;
};
