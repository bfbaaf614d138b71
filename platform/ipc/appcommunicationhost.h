#pragma once
// The IPC host of a process: serves the process's services and creates its
// clients of other processes' services, on the transport Backend.
//
//   auto host = std::make_shared<AppCommunicationHost<GrpcBackend>>(root + "etc/iipc.json");
//   host->AddService<IGenericControl>("TarvGenCtrl", processControlService);
//   auto board = host->CreateClient<IBoardControl>("BoardControl")->GetInterface();
//   host->StartServices();  then RunServer() and HandleClientNotifications() on two threads
//
// AddService installs the notification senders of the service object: a
// process-control service is an IServedProcessControl, a network service an
// IServedTarv, and a board controller gets its mMainsLostSender. Services are
// added before StartServices.

#include "platform/ipc/grpcbackend.h"

#include <memory>
#include <string>
#include <type_traits>

template <typename Backend>
class AppCommunicationHost : public Backend {
public:
    explicit AppCommunicationHost(const std::string& configurationPath,
                                  std::shared_ptr<IIpcObserver> observer = nullptr)
        : Backend(configurationPath, std::move(observer))
    {
    }

    template <typename I, typename S>
    std::shared_ptr<IServer> AddService(const std::string& name, const std::shared_ptr<S>& service)
    {
        if constexpr (std::is_same_v<I, IGenericControl>) {
            static_assert(std::is_base_of_v<IServedProcessControl, S>, "a served IGenericControl takes its senders");
            return this->AddProcessControlService(name, std::shared_ptr<IServedProcessControl>(service));
        } else if constexpr (std::is_same_v<I, ITarv>) {
            static_assert(std::is_base_of_v<IServedTarv, S>, "a served ITarv takes its senders");
            return this->AddTarvService(name, std::shared_ptr<IServedTarv>(service));
        } else if constexpr (std::is_same_v<I, Rpc::ILogConfig>) {
            return this->AddLogConfigService(name, service);
        } else if constexpr (std::is_same_v<I, IBoardControl>) {
            std::function<void()> sender;
            auto server = this->AddBoardControlService(name, service, sender);
            service->mMainsLostSender = sender;
            return server;
        } else if constexpr (std::is_same_v<I, IDiagnostics>) {
            return this->AddDiagnosticsService(name, service);
        } else {
            static_assert(sizeof(I) == 0, "no IPC service of this interface");
        }
    }

    // Clients without notifications (or whose notifications are not wanted).
    template <typename I>
    std::shared_ptr<IClient<I>> CreateClient(const std::string& name)
    {
        if constexpr (std::is_same_v<I, IGenericControl>) {
            return this->CreateProcessControlClient(name, nullptr);
        } else if constexpr (std::is_same_v<I, ITarv>) {
            return this->CreateTarvClient(name, nullptr);
        } else if constexpr (std::is_same_v<I, Rpc::ILogConfig>) {
            return this->CreateLogConfigClient(name);
        } else if constexpr (std::is_same_v<I, IBoardControl>) {
            return this->CreateBoardControlClient(name);
        } else if constexpr (std::is_same_v<I, IDiagnostics>) {
            return this->CreateDiagnosticsClient(name);
        } else {
            static_assert(sizeof(I) == 0, "no IPC client of this interface");
        }
    }

    // Clients whose notifications go to a listener, called on the thread
    // that runs HandleClientNotifications.
    std::shared_ptr<IClient<IGenericControl>> CreateClient(const std::string& name,
                                                           std::shared_ptr<IProcessControl> listener)
    {
        return this->CreateProcessControlClient(name, std::move(listener));
    }
    std::shared_ptr<IClient<ITarv>> CreateClient(const std::string& name, std::shared_ptr<ITarvClient> listener)
    {
        return this->CreateTarvClient(name, std::move(listener));
    }
};
