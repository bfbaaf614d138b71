#pragma once
// The served side of each IPC service on the asynchronous server: request
// handlers that call the served object on the handler pool, and the
// notification hub of the services that have notifications. Start arms
// every method on the server's completion queue.

#include "platform/ipc/grpc/handlerpool.h"
#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/grpc/notificationhub.h"
#include "platform/ipc/grpc/requestgate.h"
#include "platform/ipc/grpc/unarycall.h"
#include "platform/ipc/iboardcontrol.h"
#include "platform/ipc/idiagnostics.h"
#include "platform/ipc/iipcobserver.h"
#include "platform/ipc/igenericcontrol.h"
#include "platform/ipc/ilogconfig.h"
#include "platform/ipc/ipcsample.h"
#include "platform/ipc/iserver.h"
#include "platform/ipc/itarv.h"
#include "platform/ipc/requestdeadline.h"
#include "platform/log/logthrottle.h"
#include "proto/services.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <array>
#include <chrono>
#include <functional>
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
    grpc::Status Serve(const grpc::ServerContext& context, const std::function<bool()>& cancelled,
                       const char* request, F&& handler)
    {
        const auto deadline = ToSteady(context.deadline());
        const auto admission = mGate.Enter(deadline, cancelled);
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

    // Serves every call of a unary method on the pool: handler(request, reply).
    // arm is the generated RequestX of the service.
    template <typename S, typename Base, typename Request, typename Reply, typename Handler>
    void Accept(S* service,
                void (Base::*arm)(grpc::ServerContext*, Request*, grpc::ServerAsyncResponseWriter<Reply>*,
                                  grpc::CompletionQueue*, grpc::ServerCompletionQueue*, void*),
                grpc::ServerCompletionQueue* queue, CHandlerPool& pool, const char* request, Handler handler)
    {
        using Call = CUnaryCall<Request, Reply>;
        Call::Accept(
            [service, arm, queue](grpc::ServerContext* context, Request* message,
                                  grpc::ServerAsyncResponseWriter<Reply>* responder,
                                  void* tag) { (service->*arm)(context, message, responder, queue, queue, tag); },
            [this, &pool, request, handler](const std::shared_ptr<Call>& call) {
                const bool queued = pool.Submit([this, request, handler, call] {
                    call->Finish(Serve(
                        call->Context(), [call] { return call->Cancelled(); }, request,
                        [&] { handler(call->GetRequest(), call->GetReply()); }));
                });
                if (!queued) {
                    call->Finish({grpc::StatusCode::RESOURCE_EXHAUSTED, "no thread for the request"});
                }
            });
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
    grpc::Status Refuse(CRequestGate::EAdmission admission, const char* request);

    static constexpr std::size_t kRefusalKinds = 4;

    std::string mService;
    CRequestGate mGate;
    std::array<CLogThrottle, kRefusalKinds> mRefusalLog; // one per kind of refusal; each its own guard
};

// Arms the Subscribe method of a service on the queue for its hub.
template <typename S, typename Envelope>
void AcceptSubscriptions(S* service, CNotificationHub<Envelope>& hub, grpc::ServerCompletionQueue* queue)
{
    hub.Accept([service, queue](grpc::ServerContext* context, ipc::MEmpty* request,
                                grpc::ServerAsyncWriter<Envelope>* writer, void* tag) {
        service->RequestSubscribe(context, request, writer, queue, queue, tag);
    });
}

// What the backend needs of every served service.
class IServedService {
public:
    virtual ~IServedService() = default;
    virtual grpc::Service& Service() = 0;
    // Arms every method; called once, after the server started.
    virtual void Start(grpc::ServerCompletionQueue* queue, CHandlerPool& pool) = 0;
    // Refuses further requests and ends the subscriptions (the host stops).
    virtual void Close() = 0;
};

class CProcessControlServer final : public ipc::TarvGenCtrl::AsyncService, public IServedService {
public:
    CProcessControlServer(std::string name, std::shared_ptr<IGenericControl> service,
                          std::shared_ptr<IIpcObserver> observer)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service)), mHub(mName, std::move(observer))
    {
    }

    grpc::Service& Service() override { return *this; }
    void Start(grpc::ServerCompletionQueue* queue, CHandlerPool& pool) override
    {
        mRunner.Accept(this, &CProcessControlServer::RequestEnable, queue, pool, "Enable",
                       [this](const ipc::MEmpty&, ipc::MResult& reply) { reply = mService->Enable(); });
        mRunner.Accept(this, &CProcessControlServer::RequestDisable, queue, pool, "Disable",
                       [this](const ipc::MEmpty&, ipc::MResult& reply) { reply = mService->Disable(); });
        // Never blocks: answered on the completion-queue thread.
        using Call = CUnaryCall<ipc::MEmpty, ipc::MState>;
        Call::Accept(
            [this, queue](grpc::ServerContext* context, ipc::MEmpty* request,
                          grpc::ServerAsyncResponseWriter<ipc::MState>* responder,
                          void* tag) { RequestGetState(context, request, responder, queue, queue, tag); },
            [this](const std::shared_ptr<Call>& call) {
                {
                    std::lock_guard lock(mStateMutex);
                    call->GetReply() = mLastState;
                }
                call->Finish(grpc::Status::OK);
            });
        AcceptSubscriptions(this, mHub, queue);
    }
    void Close() override
    {
        mRunner.Close();
        mHub.Close();
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

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<IGenericControl> mService;
    CNotificationHub<ipc::MGenCtrlNotification> mHub;
    std::mutex mStateMutex; // guards mLastState
    ipc::MState mLastState;
};

class CTarvServer final : public ipc::Tarv::AsyncService, public IServedService {
public:
    CTarvServer(std::string name, std::shared_ptr<ITarv> service, std::shared_ptr<IIpcObserver> observer)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service)), mHub(mName, std::move(observer))
    {
    }

    grpc::Service& Service() override { return *this; }
    void Start(grpc::ServerCompletionQueue* queue, CHandlerPool& pool) override
    {
        mRunner.Accept(this, &CTarvServer::RequestScanWlan, queue, pool, "ScanWlan",
                       [this](const ipc::MEmpty&, ipc::MScanWlan& reply) { reply = mService->ScanWlan(); });
        mRunner.Accept(this, &CTarvServer::RequestValidate, queue, pool, "Validate",
                       [this](const ipc::MEmpty&, ipc::MBool& reply) { reply.set_value(mService->Validate()); });
        mRunner.Accept(this, &CTarvServer::RequestTriggerNotification, queue, pool, "TriggerNotification",
                       [this](const ipc::MNetInterfaces& request, ipc::MBool& reply) {
                           reply.set_value(mService->TriggerNotification(request));
                       });
        AcceptSubscriptions(this, mHub, queue);
    }
    void Close() override
    {
        mRunner.Close();
        mHub.Close();
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

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<ITarv> mService;
    CNotificationHub<ipc::MTarvNotification> mHub;
};

class CLogConfigServer final : public ipc::TarvLog::AsyncService, public IServedService {
public:
    CLogConfigServer(std::string name, std::shared_ptr<Rpc::ILogConfig> service)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service))
    {
    }
    grpc::Service& Service() override { return *this; }
    void Start(grpc::ServerCompletionQueue* queue, CHandlerPool& pool) override
    {
        mRunner.Accept(this, &CLogConfigServer::RequestGetLogLevel, queue, pool, "GetLogLevel",
                       [this](const ipc::MEmpty&, ipc::MLogLevel& reply) { reply.set_level(mService->GetLogLevel()); });
        mRunner.Accept(this, &CLogConfigServer::RequestSetLogLevel, queue, pool, "SetLogLevel",
                       [this](const ipc::MLogLevel& request, ipc::MBool& reply) {
                           reply.set_value(mService->SetLogLevel(request.level()));
                       });
    }
    void Close() override { mRunner.Close(); }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<Rpc::ILogConfig> mService;
};

class CBoardControlServer final : public ipc::BoardControl::AsyncService, public IServedService {
public:
    CBoardControlServer(std::string name, std::shared_ptr<IBoardControl> service,
                        std::shared_ptr<IIpcObserver> observer)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service)), mHub(mName, std::move(observer))
    {
    }
    grpc::Service& Service() override { return *this; }
    void Start(grpc::ServerCompletionQueue* queue, CHandlerPool& pool) override
    {
        mRunner.Accept(this, &CBoardControlServer::RequestRebootRequest, queue, pool, "RebootRequest",
                       [this](const ipc::MEmpty&, ipc::MBool& reply) { reply.set_value(mService->RebootRequest()); });
        AcceptSubscriptions(this, mHub, queue);
    }
    void Close() override
    {
        mRunner.Close();
        mHub.Close();
    }
    void SendMainsLost()
    {
        ipc::MBoardControlNotification notification;
        notification.mutable_mainslost();
        mHub.Publish(notification);
    }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<IBoardControl> mService;
    CNotificationHub<ipc::MBoardControlNotification> mHub;
};

class CDiagnosticsServer final : public ipc::Diagnostics::AsyncService, public IServedService {
public:
    CDiagnosticsServer(std::string name, std::shared_ptr<IDiagnostics> service)
        : mName(std::move(name)), mRunner(mName), mService(std::move(service))
    {
    }
    grpc::Service& Service() override { return *this; }
    void Start(grpc::ServerCompletionQueue* queue, CHandlerPool& pool) override
    {
        mRunner.Accept(this, &CDiagnosticsServer::RequestSend, queue, pool, "Send",
                       [this](const ipc::MDiagnosticsSample& request, ipc::MEmpty&) {
                           mService->SendSample(IpcSample::FromMessage(request));
                       });
    }
    void Close() override { mRunner.Close(); }

private:
    std::string mName;
    CRequestRunner mRunner;
    std::shared_ptr<IDiagnostics> mService;
};

} // namespace IpcGrpc
