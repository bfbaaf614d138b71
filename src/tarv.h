#pragma once
// The daemon's application object: builds the IPC host, the services and the
// lifecycle state machine for a root directory, wires them, runs the machine
// on the calling thread until SIGINT stops it, then stops the IPC host.

#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "src/machinerunner.h"
#include "src/processcontrolservice.h"
#include "src/tarvservice.h"
#include "statemachines/tarvhsm.h"
#include "statemachines/tarvhsmplaceholderactionhandler.h"

#include <memory>
#include <string>
#include <thread>

class CTarv {
public:
    // Throws when the IPC configuration "<root>etc/iipc.json" is missing or
    // malformed, or a part cannot be built.
    explicit CTarv(const std::string& rootDirectory);
    ~CTarv();
    CTarv(const CTarv&) = delete;
    CTarv& operator=(const CTarv&) = delete;

    // Serves IPC, runs the state machine until it stops, then stops the host.
    void Run();

private:
    void ConnectIStatemachine();
    void ConnectITarvServices();
    void ConnectIBoardControl() const;
    void StopHost();

    std::string mRoot;
    std::shared_ptr<AppCommunicationHost<GrpcBackend>> mHost;
    std::shared_ptr<CProcessControlService> mProcessControlService;
    std::shared_ptr<CTarvService> mTarvService;
    std::shared_ptr<CDiagnosticsCommClient> mDiagnosticsClient;
    std::shared_ptr<IBoardControl> mBoardControl;
    std::shared_ptr<CTarvHsmPlaceholderActionHandler> mActionHandler;
    std::shared_ptr<CTarvHsm> mHsm;
    std::thread mServerThread;
    std::thread mClientThread;
    CMachineRunner mMachineRunner;
};
