#pragma once
// The gRPC transport behind the IPC host. This header is free of gRPC: the
// transport lives in the implementation files of this directory.
//
// Threads: StartServices binds the served sockets; RunServer and
// HandleClientNotifications each block their calling thread until Stop.
// RunServer drives the server's completion queue: requests (whose handlers
// run on a pool of threads that exist only while requests are served) and
// notification subscriptions; HandleClientNotifications keeps this process's client
// subscriptions established (retrying absent peers with back-off) and
// delivers the notifications they receive to the client listeners.

#include "platform/ipc/iboardcontrol.h"
#include "platform/ipc/iclient.h"
#include "platform/ipc/idiagnostics.h"
#include "platform/ipc/igenericcontrol.h"
#include "platform/ipc/iipcobserver.h"
#include "platform/ipc/ilogconfig.h"
#include "platform/ipc/ilogger.h"
#include "platform/ipc/iprocesscontrol.h"
#include "platform/ipc/iserver.h"
#include "platform/ipc/iservedprocesscontrol.h"
#include "platform/ipc/iservedtarv.h"
#include "platform/ipc/itarv.h"
#include "platform/ipc/itarvclient.h"

#include <functional>
#include <memory>
#include <string>

class GrpcBackend {
public:
    // The logger every message of the IPC layer goes through; set once,
    // before any host exists. Without a logger the IPC layer is silent.
    static void SetLogger(std::shared_ptr<Rpc::ILogger> logger);
    static std::shared_ptr<Rpc::ILogger> GetLogger();

    // Reads the IPC configuration file; throws std::runtime_error naming the
    // file and the problem when it is missing or malformed. The observer,
    // when given, learns how the served services are used.
    explicit GrpcBackend(const std::string& configurationPath, std::shared_ptr<IIpcObserver> observer = nullptr);
    virtual ~GrpcBackend();
    GrpcBackend(const GrpcBackend&) = delete;
    GrpcBackend& operator=(const GrpcBackend&) = delete;

    // Binds the sockets of the added services (stale socket files are
    // removed first; a socket another process still serves is refused).
    // Throws std::runtime_error when a socket cannot be bound.
    void StartServices();
    // Both block until Stop.
    void RunServer();
    void HandleClientNotifications();
    // Ends subscriptions, stops serving, removes the socket files and makes
    // RunServer and HandleClientNotifications return. Idempotent.
    void Stop();

    class CImpl;

protected:
    // Both install the senders of the service's notifications.
    std::shared_ptr<IServer> AddProcessControlService(const std::string& name,
                                                      std::shared_ptr<IServedProcessControl> service);
    std::shared_ptr<IServer> AddTarvService(const std::string& name, std::shared_ptr<IServedTarv> service);
    std::shared_ptr<IServer> AddLogConfigService(const std::string& name, std::shared_ptr<Rpc::ILogConfig> service);
    std::shared_ptr<IServer> AddBoardControlService(const std::string& name, std::shared_ptr<IBoardControl> service,
                                                    std::function<void()>& mainsLostSender);
    std::shared_ptr<IServer> AddDiagnosticsService(const std::string& name, std::shared_ptr<IDiagnostics> service);

    std::shared_ptr<IClient<IGenericControl>> CreateProcessControlClient(const std::string& name,
                                                                        std::shared_ptr<IProcessControl> listener);
    std::shared_ptr<IClient<ITarv>> CreateTarvClient(const std::string& name, std::shared_ptr<ITarvClient> listener);
    std::shared_ptr<IClient<Rpc::ILogConfig>> CreateLogConfigClient(const std::string& name);
    std::shared_ptr<IClient<IBoardControl>> CreateBoardControlClient(const std::string& name);
    std::shared_ptr<IClient<IDiagnostics>> CreateDiagnosticsClient(const std::string& name);

private:
    std::shared_ptr<CImpl> mImpl;
};
