#pragma once
// The client side of each IPC service: every request is one unary call with
// a deadline; a peer that cannot be reached raises
// Rpc::CommunicationException (the board controller and the diagnostics
// collector answer false instead: the daemon keeps working without them).

#include "platform/ipc/grpc/callstatus.h"
#include "platform/ipc/grpc/completiontag.h"
#include "platform/ipc/grpc/ipclimits.h"
#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/grpc/subscription.h"
#include "platform/ipc/iboardcontrol.h"
#include "platform/ipc/iclient.h"
#include "platform/ipc/idiagnostics.h"
#include "platform/ipc/igenericcontrol.h"
#include "platform/ipc/ilogconfig.h"
#include "platform/ipc/ipcconfiguration.h"
#include "platform/ipc/ipcsample.h"
#include "platform/ipc/itarv.h"
#include "proto/services.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

namespace IpcGrpc {

// What every client shares: the peer's endpoint and stub, the optional
// notification subscription and the request helper. I is the interface the
// client implements, Stub the generated stub of its service.
template <typename I, typename Stub>
class CClient : public IClient<I>, public I {
public:
    CClient(SIpcEndpoint endpoint, std::shared_ptr<Stub> stub, std::chrono::seconds timeout)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub)), mTimeout(timeout)
    {
    }

    // Creates a client of type C that hands itself out as its interface.
    template <typename C>
    static std::shared_ptr<C> Create(const SIpcEndpoint& endpoint, std::shared_ptr<Stub> stub)
    {
        auto client = std::make_shared<C>(endpoint, std::move(stub));
        client->mSelf = client;
        return client;
    }

    std::shared_ptr<I> GetInterface() const override { return mSelf.lock(); }
    bool IsSubscribed() const override { return mSubscription && mSubscription->IsSubscribed(); }
    bool WaitSubscribed(std::chrono::milliseconds timeout) const override
    {
        return mSubscription && mSubscription->WaitSubscribed(timeout);
    }

    void SetSubscription(std::shared_ptr<ISubscription> subscription) { mSubscription = std::move(subscription); }

protected:
    // One request; the status tells how it went.
    template <typename Request, typename Reply, typename Method>
    grpc::Status Send(Method method, const Request& request, Reply& reply)
    {
        grpc::ClientContext context;
        PrepareContext(context, mTimeout);
        HandOver();
        const grpc::Status status = ((*mStub).*method)(&context, request, &reply);
        TakeOver();
        if (status.error_code() != grpc::StatusCode::UNAVAILABLE || !PeerSocketExists(mEndpoint)) {
            return status;
        }
        // The peer's socket is there but the connection failed (a listener
        // slow to accept on a busy board, say): one more try that waits for
        // the connection, briefly, instead of failing a live peer at once.
        // An absent peer has no socket and still fails at once.
        grpc::ClientContext retry;
        PrepareContext(retry, mTimeout);
        retry.set_deadline(std::min(retry.deadline(), std::chrono::system_clock::now() + kReconnectWindow));
        retry.set_wait_for_ready(true);
        reply.Clear();
        const grpc::Status retried = ((*mStub).*method)(&retry, request, &reply);
        TakeOver();
        return retried;
    }

    // One request whose failure raises Rpc::CommunicationException.
    template <typename Reply, typename Request, typename Method>
    Reply Call(Method method, const Request& request)
    {
        Reply reply;
        const grpc::Status status = Send(method, request, reply);
        if (!status.ok()) {
            ThrowFailure(mEndpoint, status);
        }
        return reply;
    }

    SIpcEndpoint mEndpoint;

private:
    std::shared_ptr<Stub> mStub;
    std::chrono::seconds mTimeout;
    std::weak_ptr<I> mSelf;
    std::shared_ptr<ISubscription> mSubscription;
};

class CProcessControlClient final : public CClient<IGenericControl, ipc::TarvGenCtrl::Stub> {
public:
    CProcessControlClient(const SIpcEndpoint& endpoint, std::shared_ptr<ipc::TarvGenCtrl::Stub> stub)
        : CClient(endpoint, std::move(stub), kRequestTimeout)
    {
    }
    ipc::MResult Enable() override { return Call<ipc::MResult>(&ipc::TarvGenCtrl::Stub::Enable, ipc::MEmpty()); }
    ipc::MResult Disable() override { return Call<ipc::MResult>(&ipc::TarvGenCtrl::Stub::Disable, ipc::MEmpty()); }
    ipc::MState GetState() override { return Call<ipc::MState>(&ipc::TarvGenCtrl::Stub::GetState, ipc::MEmpty()); }
};

class CTarvClient final : public CClient<ITarv, ipc::Tarv::Stub> {
public:
    CTarvClient(const SIpcEndpoint& endpoint, std::shared_ptr<ipc::Tarv::Stub> stub)
        : CClient(endpoint, std::move(stub), kRequestTimeout)
    {
    }
    ipc::MScanWlan ScanWlan() override { return Call<ipc::MScanWlan>(&ipc::Tarv::Stub::ScanWlan, ipc::MEmpty()); }
    bool Validate() override { return Call<ipc::MBool>(&ipc::Tarv::Stub::Validate, ipc::MEmpty()).value(); }
    bool TriggerNotification(const ipc::MNetInterfaces& interfaces) override
    {
        return Call<ipc::MBool>(&ipc::Tarv::Stub::TriggerNotification, interfaces).value();
    }
};

class CLogConfigClient final : public CClient<Rpc::ILogConfig, ipc::TarvLog::Stub> {
public:
    CLogConfigClient(const SIpcEndpoint& endpoint, std::shared_ptr<ipc::TarvLog::Stub> stub)
        : CClient(endpoint, std::move(stub), kRequestTimeout)
    {
    }
    int GetLogLevel() override { return Call<ipc::MLogLevel>(&ipc::TarvLog::Stub::GetLogLevel, ipc::MEmpty()).level(); }
    bool SetLogLevel(int level) override
    {
        ipc::MLogLevel request;
        request.set_level(level);
        return Call<ipc::MBool>(&ipc::TarvLog::Stub::SetLogLevel, request).value();
    }
};

class CBoardControlClient final : public CClient<IBoardControl, ipc::BoardControl::Stub> {
public:
    CBoardControlClient(const SIpcEndpoint& endpoint, std::shared_ptr<ipc::BoardControl::Stub> stub)
        : CClient(endpoint, std::move(stub), kPeerRequestTimeout)
    {
    }
    bool RebootRequest() override
    {
        ipc::MBool reply;
        const grpc::Status status = Send(&ipc::BoardControl::Stub::RebootRequest, ipc::MEmpty(), reply);
        if (!status.ok()) {
            Log(ELevel::error, "Reboot request to '{}' at {}: {}", mEndpoint.name, mEndpoint.socketPath,
                Describe(status));
            return false;
        }
        return reply.value();
    }
};

class CDiagnosticsClient final : public CClient<IDiagnostics, ipc::Diagnostics::Stub> {
public:
    CDiagnosticsClient(const SIpcEndpoint& endpoint, std::shared_ptr<ipc::Diagnostics::Stub> stub)
        : CClient(endpoint, std::move(stub), kPeerRequestTimeout)
    {
    }
    bool SendSample(const CDiagnosticsCommClient::SSample& sample) override
    {
        ipc::MEmpty reply;
        return Send(&ipc::Diagnostics::Stub::Send, IpcSample::ToMessage(sample), reply).ok();
    }
};

} // namespace IpcGrpc
