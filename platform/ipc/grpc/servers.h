#pragma once
// The served side of each IPC service: request handlers that call the
// served object, and the notification hub of the services that have
// notifications.

#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/grpc/notificationhub.h"
#include "platform/ipc/grpc/requestgate.h"
#include "platform/ipc/iboardcontrol.h"
#include "platform/ipc/idiagnostics.h"
#include "platform/ipc/iipcobserver.h"
#include "platform/ipc/igenericcontrol.h"
#include "platform/ipc/ilogconfig.h"
#include "platform/ipc/ipcsample.h"
#include "platform/ipc/iserver.h"
#include "platform/ipc/itarv.h"
#include "platform/ipc/requestdeadline.h"
#include "proto/services.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <chrono>
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

// Runs the request handlers of one served object. Each service has its own
// bound of requests in its handlers; a request whose client gave up before
// its turn is answered without calling the handler; the handler runs in a
// CRequestDeadline scope with the client's deadline, and an exception it
// throws becomes an error status for the client instead of ending the process.
class CRequestRunner {
public:
    explicit CRequestRunner(std::string service);

    template <typename F>
    grpc::Status Serve(grpc::ServerContext* context, const char* request, F&& handler)
    {
        const auto deadline = ToSteady(context->deadline());
        const auto admission = mGate.Enter(deadline, [context] { return context->IsCancelled(); });
        if (admission != CRequestGate::EAdmission::admitted) {
            return Refuse(admission, request);
        }
        const CLeave leave(mGate);
        const CRequestDeadline::CScope scope(deadline);
        try {
            handler();
            return grpc::Status::OK;
        } catch (const std::exception& e) {
            Log(ELevel::error, "Request {} of '{}' failed: {}", request, mService, e.what());
            return {grpc::StatusCode::INTERNAL, e.what()};
        } catch (...) {
            Log(ELevel::error, "Request {} of '{}' failed with an unknown exception", request, mService);
            return {grpc::StatusCode::INTERNAL, "unknown exception"};
        }
    }

    // Refuses every further request (the host stops).
    void Close() { mGate.Close(); }

private:
    class CLeave {
    public:
        explicit CLeave(CRequestGate& gate) : mGate(gate) {}
        ~CLeave() { mGate.Leave(); }
        CLeave(const CLeave&) = delete;
        CLeave& operator=(const CLeave&) = delete;

    private:
        CRequestGate& mGate;
    };

    // gRPC gives the deadline on the system clock; "none" is its maximum.
    static CRequestDeadline::Clock::time_point ToSteady(std::chrono::system_clock::time_point deadline);
    grpc::Status Refuse(CRequestGate::EAdmission admission, const char* request) const;

    std::string mService;
    CRequestGate mGate;
};

class CProcessControlServer final
    : public ipc::TarvGenCtrl::WithCallbackMethod_Subscribe<ipc::TarvGenCtrl::Service> {
public:
    CProcessControlServer(std::string name, std::shared_ptr<IGenericControl> service,
                          std::shared_ptr<IIpcObserver> observer)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service)), mHub(mName, std::move(observer))
    {
    }
    // Destroyed after the server's shutdown, which waits for the request
    // threads through synchronisation inside gRPC; taking the lock once more
    // orders the destruction after the last GetState in our own terms too
    // (and so for ThreadSanitizer).
    ~CProcessControlServer() override { const std::lock_guard lock(mStateMutex); }
    CProcessControlServer(const CProcessControlServer&) = delete;
    CProcessControlServer& operator=(const CProcessControlServer&) = delete;

    grpc::Status Enable(grpc::ServerContext* context, const ipc::MEmpty*, ipc::MResult* reply) override
    {
        return mRunner.Serve(context, "Enable", [&] { *reply = mService->Enable(); });
    }
    grpc::Status Disable(grpc::ServerContext* context, const ipc::MEmpty*, ipc::MResult* reply) override
    {
        return mRunner.Serve(context, "Disable", [&] { *reply = mService->Disable(); });
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
    CRequestRunner& Runner() { return mRunner; }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<IGenericControl> mService;
    CNotificationHub<ipc::MGenCtrlNotification> mHub;
    std::mutex mStateMutex; // guards mLastState
    ipc::MState mLastState;
};

class CTarvServer final : public ipc::Tarv::WithCallbackMethod_Subscribe<ipc::Tarv::Service> {
public:
    CTarvServer(std::string name, std::shared_ptr<ITarv> service,
                std::shared_ptr<IIpcObserver> observer)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service)), mHub(mName, std::move(observer))
    {
    }

    grpc::Status ScanWlan(grpc::ServerContext* context, const ipc::MEmpty*, ipc::MScanWlan* reply) override
    {
        return mRunner.Serve(context, "ScanWlan", [&] { *reply = mService->ScanWlan(); });
    }
    grpc::Status Validate(grpc::ServerContext* context, const ipc::MEmpty*, ipc::MBool* reply) override
    {
        return mRunner.Serve(context, "Validate", [&] { reply->set_value(mService->Validate()); });
    }
    grpc::Status TriggerNotification(grpc::ServerContext* context, const ipc::MNetInterfaces* request,
                                     ipc::MBool* reply) override
    {
        return mRunner.Serve(context, "TriggerNotification",
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
    CRequestRunner& Runner() { return mRunner; }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<ITarv> mService;
    CNotificationHub<ipc::MTarvNotification> mHub;
};

class CLogConfigServer final : public ipc::TarvLog::Service {
public:
    CLogConfigServer(std::string name, std::shared_ptr<Rpc::ILogConfig> service)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service))
    {
    }
    grpc::Status GetLogLevel(grpc::ServerContext* context, const ipc::MEmpty*, ipc::MLogLevel* reply) override
    {
        return mRunner.Serve(context, "GetLogLevel", [&] { reply->set_level(mService->GetLogLevel()); });
    }
    grpc::Status SetLogLevel(grpc::ServerContext* context, const ipc::MLogLevel* request, ipc::MBool* reply) override
    {
        return mRunner.Serve(context, "SetLogLevel",
                             [&] { reply->set_value(mService->SetLogLevel(request->level())); });
    }
    CRequestRunner& Runner() { return mRunner; }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<Rpc::ILogConfig> mService;
};

class CBoardControlServer final
    : public ipc::BoardControl::WithCallbackMethod_Subscribe<ipc::BoardControl::Service> {
public:
    CBoardControlServer(std::string name, std::shared_ptr<IBoardControl> service,
                        std::shared_ptr<IIpcObserver> observer)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service)), mHub(mName, std::move(observer))
    {
    }
    grpc::Status RebootRequest(grpc::ServerContext* context, const ipc::MEmpty*, ipc::MBool* reply) override
    {
        return mRunner.Serve(context, "RebootRequest", [&] { reply->set_value(mService->RebootRequest()); });
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
    CRequestRunner& Runner() { return mRunner; }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<IBoardControl> mService;
    CNotificationHub<ipc::MBoardControlNotification> mHub;
};

class CDiagnosticsServer final : public ipc::Diagnostics::Service {
public:
    CDiagnosticsServer(std::string name, std::shared_ptr<IDiagnostics> service)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service))
    {
    }
    grpc::Status Send(grpc::ServerContext* context, const ipc::MDiagnosticsSample* request, ipc::MEmpty*) override
    {
        return mRunner.Serve(context, "Send", [&] { mService->SendSample(IpcSample::FromMessage(*request)); });
    }
    CRequestRunner& Runner() { return mRunner; }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<IDiagnostics> mService;
};

} // namespace IpcGrpc
