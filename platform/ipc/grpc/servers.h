#pragma once
// The served side of each IPC service: request handlers that call the
// served object, and the notification hub of the services that have
// notifications.

#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/grpc/notificationhub.h"
#include "platform/ipc/iboardcontrol.h"
#include "platform/ipc/idiagnostics.h"
#include "platform/ipc/igenericcontrol.h"
#include "platform/ipc/ilogconfig.h"
#include "platform/ipc/ipcsample.h"
#include "platform/ipc/iserver.h"
#include "platform/ipc/itarv.h"
#include "proto/services.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <memory>
#include <mutex>
#include <string>

namespace IpcGrpc {

class CNamedServer final : public IServer {
public:
    explicit CNamedServer(std::string name) : mName(std::move(name)) {}
    const std::string& GetName() const override { return mName; }

private:
    std::string mName;
};

// Runs a request handler of a served object; an exception becomes an error
// status for the client instead of ending the process.
template <typename F>
grpc::Status Serve(const std::string& service, const char* request, F&& handler)
{
    try {
        handler();
        return grpc::Status::OK;
    } catch (const std::exception& e) {
        Log(ELevel::error, "Request {} of '{}' failed: {}", request, service, e.what());
        return {grpc::StatusCode::INTERNAL, e.what()};
    } catch (...) {
        Log(ELevel::error, "Request {} of '{}' failed with an unknown exception", request, service);
        return {grpc::StatusCode::INTERNAL, "unknown exception"};
    }
}

class CProcessControlServer final
    : public ipc::TarvGenCtrl::WithCallbackMethod_Subscribe<ipc::TarvGenCtrl::Service> {
public:
    CProcessControlServer(std::string name, std::shared_ptr<IGenericControl> service)
        : mName(std::move(name)), mService(std::move(service)), mHub(mName)
    {
    }

    grpc::Status Enable(grpc::ServerContext*, const ipc::MEmpty*, ipc::MResult* reply) override
    {
        return Serve(mName, "Enable", [&] { *reply = mService->Enable(); });
    }
    grpc::Status Disable(grpc::ServerContext*, const ipc::MEmpty*, ipc::MResult* reply) override
    {
        return Serve(mName, "Disable", [&] { *reply = mService->Disable(); });
    }
    grpc::Status GetState(grpc::ServerContext*, const ipc::MEmpty*, ipc::MState* reply) override
    {
        std::lock_guard lock(mStateMutex);
        *reply = mLastState;
        return grpc::Status::OK;
    }
    grpc::ServerWriteReactor<ipc::MGenCtrlNotification>* Subscribe(grpc::CallbackServerContext*,
                                                                  const ipc::MEmpty*) override
    {
        return mHub.Subscribe();
    }

    void SendState(const ipc::MState& state)
    {
        ipc::MGenCtrlNotification notification;
        *notification.mutable_state() = state;
        {
            // Held across the publish so that GetState and the notification
            // order agree when two threads send states at once.
            std::lock_guard lock(mStateMutex);
            mLastState = state;
            mHub.Publish(notification);
        }
    }
    void SendAlive()
    {
        ipc::MGenCtrlNotification notification;
        notification.mutable_alive();
        mHub.Publish(notification);
    }

    CNotificationHub<ipc::MGenCtrlNotification>& Hub() { return mHub; }

private:
    std::string mName;
    std::shared_ptr<IGenericControl> mService;
    CNotificationHub<ipc::MGenCtrlNotification> mHub;
    std::mutex mStateMutex; // guards mLastState
    ipc::MState mLastState;
};

class CTarvServer final : public ipc::Tarv::WithCallbackMethod_Subscribe<ipc::Tarv::Service> {
public:
    CTarvServer(std::string name, std::shared_ptr<ITarv> service)
        : mName(std::move(name)), mService(std::move(service)), mHub(mName)
    {
    }

    grpc::Status ScanWlan(grpc::ServerContext*, const ipc::MEmpty*, ipc::MScanWlan* reply) override
    {
        return Serve(mName, "ScanWlan", [&] { *reply = mService->ScanWlan(); });
    }
    grpc::Status Validate(grpc::ServerContext*, const ipc::MEmpty*, ipc::MBool* reply) override
    {
        return Serve(mName, "Validate", [&] { reply->set_value(mService->Validate()); });
    }
    grpc::Status TriggerNotification(grpc::ServerContext*, const ipc::MNetInterfaces* request,
                                     ipc::MBool* reply) override
    {
        return Serve(mName, "TriggerNotification",
                     [&] { reply->set_value(mService->TriggerNotification(*request)); });
    }
    grpc::ServerWriteReactor<ipc::MTarvNotification>* Subscribe(grpc::CallbackServerContext*,
                                                               const ipc::MEmpty*) override
    {
        return mHub.Subscribe();
    }

    void SendStatus(const ipc::MNetStatus& status)
    {
        ipc::MTarvNotification notification;
        *notification.mutable_status() = status;
        mHub.Publish(notification);
    }
    void SendValue(float value)
    {
        ipc::MTarvNotification notification;
        notification.mutable_value()->set_value(value);
        mHub.Publish(notification);
    }

    CNotificationHub<ipc::MTarvNotification>& Hub() { return mHub; }

private:
    std::string mName;
    std::shared_ptr<ITarv> mService;
    CNotificationHub<ipc::MTarvNotification> mHub;
};

class CLogConfigServer final : public ipc::TarvLog::Service {
public:
    CLogConfigServer(std::string name, std::shared_ptr<Rpc::ILogConfig> service)
        : mName(std::move(name)), mService(std::move(service))
    {
    }
    grpc::Status GetLogLevel(grpc::ServerContext*, const ipc::MEmpty*, ipc::MLogLevel* reply) override
    {
        return Serve(mName, "GetLogLevel", [&] { reply->set_level(mService->GetLogLevel()); });
    }
    grpc::Status SetLogLevel(grpc::ServerContext*, const ipc::MLogLevel* request, ipc::MBool* reply) override
    {
        return Serve(mName, "SetLogLevel", [&] { reply->set_value(mService->SetLogLevel(request->level())); });
    }

private:
    std::string mName;
    std::shared_ptr<Rpc::ILogConfig> mService;
};

class CBoardControlServer final
    : public ipc::BoardControl::WithCallbackMethod_Subscribe<ipc::BoardControl::Service> {
public:
    CBoardControlServer(std::string name, std::shared_ptr<IBoardControl> service)
        : mName(std::move(name)), mService(std::move(service)), mHub(mName)
    {
    }
    grpc::Status RebootRequest(grpc::ServerContext*, const ipc::MEmpty*, ipc::MBool* reply) override
    {
        return Serve(mName, "RebootRequest", [&] { reply->set_value(mService->RebootRequest()); });
    }
    grpc::ServerWriteReactor<ipc::MBoardControlNotification>* Subscribe(grpc::CallbackServerContext*,
                                                                       const ipc::MEmpty*) override
    {
        return mHub.Subscribe();
    }
    void SendMainsLost()
    {
        ipc::MBoardControlNotification notification;
        notification.mutable_mainslost();
        mHub.Publish(notification);
    }
    CNotificationHub<ipc::MBoardControlNotification>& Hub() { return mHub; }

private:
    std::string mName;
    std::shared_ptr<IBoardControl> mService;
    CNotificationHub<ipc::MBoardControlNotification> mHub;
};

class CDiagnosticsServer final : public ipc::Diagnostics::Service {
public:
    CDiagnosticsServer(std::string name, std::shared_ptr<IDiagnostics> service)
        : mName(std::move(name)), mService(std::move(service))
    {
    }
    grpc::Status Send(grpc::ServerContext*, const ipc::MDiagnosticsSample* request, ipc::MEmpty*) override
    {
        return Serve(mName, "Send", [&] { mService->SendSample(IpcSample::FromMessage(*request)); });
    }

private:
    std::string mName;
    std::shared_ptr<IDiagnostics> mService;
};

} // namespace IpcGrpc
