// The gRPC transport of the IPC host: served services with their
// notification fan-out, the socket files, and the client side (unary
// requests, notification subscriptions kept alive with back-off).

#include "platform/ipc/grpcbackend.h"

#include "platform/ipc/communicationexception.h"
#include "platform/ipc/ipcconfiguration.h"
#include "platform/ipc/ipcsample.h"
#include "proto/services.grpc.pb.h"

#include <fmt/format.h>
#include <grpc/grpc.h>
#include <grpc/support/log.h>
#include <grpcpp/grpcpp.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex gLoggerMutex;
std::shared_ptr<Rpc::ILogger> gLogger; // guarded by gLoggerMutex

enum class ELevel { critical, error, warning, info, debug, trace };

void Write(ELevel level, const std::string& text)
{
    std::shared_ptr<Rpc::ILogger> logger;
    {
        std::lock_guard lock(gLoggerMutex);
        logger = gLogger;
    }
    if (!logger) {
        return;
    }
    switch (level) {
    case ELevel::critical: logger->Critical(text); break;
    case ELevel::error: logger->Error(text); break;
    case ELevel::warning: logger->Warning(text); break;
    case ELevel::info: logger->Info(text); break;
    case ELevel::debug: logger->Debug(text); break;
    case ELevel::trace: logger->Trace(text); break;
    }
}

template <typename... Args>
void Log(ELevel level, fmt::format_string<Args...> format, Args&&... args)
{
    Write(level, fmt::format(format, std::forward<Args>(args)...));
}

// gRPC's own messages go to the same logger, one level lower than gRPC rates
// them: an absent peer is routine for this process, not an error.
void OnGrpcLog(gpr_log_func_args* args)
{
    const std::string text = std::string("grpc: ") + (args->message ? args->message : "");
    switch (args->severity) {
    case GPR_LOG_SEVERITY_ERROR: Write(ELevel::warning, text); break;
    case GPR_LOG_SEVERITY_INFO: Write(ELevel::debug, text); break;
    default: Write(ELevel::trace, text); break;
    }
}

// Also keeps the gRPC library initialised for the life of the process: when
// the last host goes away and another one is created soon after, the
// library's shutdown in between races with the new host's first calls.
void InitializeGrpc()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gpr_set_log_function(&OnGrpcLog);
        grpc_init();
    });
}

// Bound of the per-subscriber queue of notifications not yet written.
constexpr std::size_t kSubscriberQueueLimit = 256;
// Subscribers per service; further subscriptions are refused.
constexpr std::size_t kSubscriberLimit = 64;
// Bound of the queue of received notifications not yet delivered to listeners.
constexpr std::size_t kDeliveryQueueLimit = 1024;
constexpr int kMaxRequestThreads = 32;
constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr auto kPeerRequestTimeout = std::chrono::seconds(5);
constexpr auto kResubscribeMin = std::chrono::milliseconds(100);
constexpr auto kResubscribeMax = std::chrono::seconds(5);
constexpr auto kShutdownGrace = std::chrono::seconds(2);

class CNamedServer final : public IServer {
public:
    explicit CNamedServer(std::string name) : mName(std::move(name)) {}
    const std::string& GetName() const override { return mName; }

private:
    std::string mName;
};

// ---------------------------------------------------------------------------
// Served side: one reactor per subscribed client, fed by the service's hub.

template <typename Envelope>
class CNotificationHub;

template <typename Envelope>
class CSubscriberReactor final : public grpc::ServerWriteReactor<Envelope> {
public:
    CSubscriberReactor(CNotificationHub<Envelope>* hub, std::string service)
        : mHub(hub), mService(std::move(service))
    {
    }

    void Begin() { this->StartSendInitialMetadata(); }

    // Queues a notification; never blocks. When the queue is full the oldest
    // notification not yet being written is dropped.
    void Push(const Envelope& envelope)
    {
        std::lock_guard lock(mMutex);
        if (mFinishClaimed) {
            return;
        }
        if (mQueue.size() >= kSubscriberQueueLimit) {
            mQueue.pop_front();
            if (mDropped++ == 0) {
                Log(ELevel::warning, "A subscriber of '{}' does not keep up; dropping its oldest notifications",
                    mService);
            }
        }
        mQueue.push_back(envelope);
        if (!mWriting) {
            WriteNext();
        }
    }

    // Ends the subscription (refused).
    void Close(const grpc::Status& status) { FinishOnce(status); }

    // Takes the right to finish the subscription; false when it already
    // finishes by itself (then it may be deleted at any time after).
    bool ClaimFinish()
    {
        std::lock_guard lock(mMutex);
        return !std::exchange(mFinishClaimed, true);
    }
    // Finishes a subscription whose finish was claimed.
    void FinishClaimed() { this->Finish(grpc::Status::OK); }

    void OnSendInitialMetadataDone(bool ok) override
    {
        if (!ok) {
            FinishOnce(grpc::Status::CANCELLED);
        }
    }

    void OnWriteDone(bool ok) override
    {
        {
            std::lock_guard lock(mMutex);
            mWriting = false;
            if (ok && !mFinishClaimed && !mQueue.empty()) {
                WriteNext();
            }
        }
        if (!ok) {
            FinishOnce(grpc::Status::CANCELLED);
        }
    }

    void OnCancel() override { FinishOnce(grpc::Status::CANCELLED); }

    void OnDone() override;

private:
    // Moves the oldest queued notification into the write slot and starts
    // writing it. Called with mMutex held; writes never complete inline.
    void WriteNext()
    {
        mWriting = true;
        mInFlight = std::move(mQueue.front());
        mQueue.pop_front();
        this->StartWrite(&mInFlight);
    }

    // Finish may complete inline and delete the reactor: called without locks.
    void FinishOnce(const grpc::Status& status)
    {
        {
            std::lock_guard lock(mMutex);
            if (mFinishClaimed) {
                return;
            }
            mFinishClaimed = true;
        }
        this->Finish(status);
    }

    CNotificationHub<Envelope>* mHub;
    std::string mService;
    std::mutex mMutex;               // guards the fields below
    std::deque<Envelope> mQueue;     // waiting to be written
    Envelope mInFlight;              // being written while mWriting
    bool mWriting = false;
    bool mFinishClaimed = false;
    std::size_t mDropped = 0;
};

template <typename Envelope>
class CNotificationHub {
public:
    explicit CNotificationHub(std::string service) : mService(std::move(service)) {}

    grpc::ServerWriteReactor<Envelope>* Subscribe()
    {
        // gRPC's callback API owns a reactor from here on: it deletes itself
        // in OnDone, after the library's last callback.
        auto* reactor = new CSubscriberReactor<Envelope>(this, mService);
        bool closed = false;
        bool full = false;
        {
            std::lock_guard lock(mMutex);
            closed = mClosed;
            full = mReactors.size() >= kSubscriberLimit;
            if (!closed && !full) {
                // Under the lock: the initial metadata must go out before
                // any notification a concurrent Publish writes.
                reactor->Begin();
                mReactors.insert(reactor);
                mChanged.notify_all();
            }
        }
        if (closed || full) {
            if (full) {
                Log(ELevel::warning, "Refusing a subscription to '{}': {} clients are subscribed", mService,
                    kSubscriberLimit);
            }
            // Never registered: OnDone finds nothing to remove.
            reactor->Close(full ? grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "too many subscribers")
                                : grpc::Status(grpc::StatusCode::UNAVAILABLE, "stopping"));
            return reactor;
        }
        Log(ELevel::debug, "Client subscribed to '{}'", mService);
        return reactor;
    }

    void Publish(const Envelope& envelope)
    {
        std::lock_guard lock(mMutex);
        for (auto* reactor : mReactors) {
            reactor->Push(envelope);
        }
    }

    void Remove(CSubscriberReactor<Envelope>* reactor)
    {
        std::lock_guard lock(mMutex);
        if (mReactors.erase(reactor) != 0) {
            Log(ELevel::debug, "Client of '{}' unsubscribed", mService);
        }
        mChanged.notify_all();
    }

    void Close()
    {
        std::vector<CSubscriberReactor<Envelope>*> reactors;
        {
            std::lock_guard lock(mMutex);
            mClosed = true;
            // Only reactors whose finish is claimed here stay alive until
            // finished below; the others are finishing on their own.
            for (auto* reactor : mReactors) {
                if (reactor->ClaimFinish()) {
                    reactors.push_back(reactor);
                }
            }
        }
        for (auto* reactor : reactors) {
            reactor->FinishClaimed();
        }
    }

    std::size_t Count() const
    {
        std::lock_guard lock(mMutex);
        return mReactors.size();
    }

    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return mReactors.size() >= count; });
    }

private:
    std::string mService;
    mutable std::mutex mMutex;                       // guards mReactors and mClosed
    mutable std::condition_variable mChanged;
    std::set<CSubscriberReactor<Envelope>*> mReactors;
    bool mClosed = false;
};

template <typename Envelope>
void CSubscriberReactor<Envelope>::OnDone()
{
    mHub->Remove(this);
    delete this;
}

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

// ---------------------------------------------------------------------------
// Client side.

std::string Describe(const grpc::Status& status)
{
    switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE: return "not reachable";
    case grpc::StatusCode::DEADLINE_EXCEEDED: return "no answer in time";
    case grpc::StatusCode::UNIMPLEMENTED: return "request not offered by the peer";
    default: break;
    }
    return "request failed (" + std::to_string(static_cast<int>(status.error_code())) + ")" +
           (status.error_message().empty() ? "" : ": " + status.error_message());
}

[[noreturn]] void ThrowFailure(const SIpcEndpoint& endpoint, const grpc::Status& status)
{
    throw Rpc::CommunicationException("'" + endpoint.name + "' at " + endpoint.socketPath + ": " +
                                      Describe(status));
}

void PrepareContext(grpc::ClientContext& context, std::chrono::seconds timeout)
{
    context.set_deadline(std::chrono::system_clock::now() + timeout);
    context.set_wait_for_ready(false);
}

class ISubscription {
public:
    virtual ~ISubscription() = default;
    // All called on the notification thread (Cancel also from Stop).
    virtual void StartIfDue(Clock::time_point now) = 0;
    virtual Clock::time_point NextAttempt() const = 0;
    virtual void Cancel() = 0;
    virtual bool CallActive() const = 0;
    virtual bool WaitIdle(Clock::time_point deadline) const = 0;
    virtual bool IsSubscribed() const = 0;
    virtual bool WaitSubscribed(std::chrono::milliseconds timeout) const = 0;
};

// Delivery queue and wake-ups of the notification thread.
class CClientDispatcher {
public:
    // Queues a delivery to a listener; drops the oldest one when full.
    void Post(std::function<void()> delivery)
    {
        std::lock_guard lock(mMutex);
        if (mQueue.size() >= kDeliveryQueueLimit) {
            mQueue.pop_front();
            if (mDropped++ == 0) {
                Log(ELevel::warning, "Notification listeners do not keep up; dropping the oldest notifications");
            }
        }
        mQueue.push_back(std::move(delivery));
        mWake.notify_all();
    }
    void Wake()
    {
        std::lock_guard lock(mMutex);
        ++mGeneration;
        mWake.notify_all();
    }

    std::mutex mMutex; // guards mQueue, mDropped and the host's client state (see CImpl)
    std::condition_variable mWake;
    std::deque<std::function<void()>> mQueue;
    std::size_t mDropped = 0;
    // Counts wake-ups, so one that comes while the notification thread is
    // busy is not lost.
    std::uint64_t mGeneration = 0;
};

template <typename Stub, typename Envelope>
class CSubscription final : public ISubscription, public std::enable_shared_from_this<CSubscription<Stub, Envelope>> {
public:
    using Handler = std::function<void(const Envelope&)>;

    CSubscription(SIpcEndpoint endpoint, std::shared_ptr<Stub> stub, std::shared_ptr<CClientDispatcher> dispatcher,
                  Handler handler)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub)), mDispatcher(std::move(dispatcher)),
          mHandler(std::move(handler))
    {
    }

    void StartIfDue(Clock::time_point now) override
    {
        std::unique_ptr<CCall> previous;
        CCall* call = nullptr;
        {
            std::lock_guard lock(mMutex);
            if (mCancelled || mActive || now < mNextAttempt) {
                return;
            }
            previous = std::move(mCall); // its OnDone has run: safe to delete
            mCall = std::make_unique<CCall>(this->shared_from_this());
            mActive = true;
            call = mCall.get();
        }
        call->Start(*mStub);
    }

    Clock::time_point NextAttempt() const override
    {
        std::lock_guard lock(mMutex);
        return (mActive || mCancelled) ? Clock::time_point::max() : mNextAttempt;
    }

    void Cancel() override
    {
        CCall* call = nullptr;
        {
            std::lock_guard lock(mMutex);
            mCancelled = true;
            if (mActive) {
                call = mCall.get();
            }
        }
        // Outside the lock: the cancellation may end the call inline. The
        // call object stays owned by mCall, which nothing replaces any more.
        if (call != nullptr) {
            call->mContext.TryCancel();
        }
    }

    bool WaitIdle(Clock::time_point deadline) const override
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_until(lock, deadline, [&] { return !mActive; });
    }

    bool CallActive() const override
    {
        std::lock_guard lock(mMutex);
        return mActive;
    }

    bool IsSubscribed() const override
    {
        std::lock_guard lock(mMutex);
        return mSubscribed;
    }

    bool WaitSubscribed(std::chrono::milliseconds timeout) const override
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return mSubscribed; });
    }

private:
    class CCall final : public grpc::ClientReadReactor<Envelope> {
    public:
        // The call keeps its subscription alive until its last callback.
        explicit CCall(std::shared_ptr<CSubscription> owner) : mOwner(std::move(owner)) {}

        void Start(Stub& stub)
        {
            mContext.set_wait_for_ready(true);
            stub.async()->Subscribe(&mContext, &mRequest, this);
            this->StartRead(&mMessage);
            this->StartCall();
        }
        void OnReadInitialMetadataDone(bool ok) override
        {
            if (ok) {
                mOwner->Established();
            }
        }
        void OnReadDone(bool ok) override
        {
            if (ok) {
                mOwner->Received(mMessage);
                this->StartRead(&mMessage);
            }
        }
        // Releasing the owner may destroy the subscription and with it this
        // call: nothing touches the call after that.
        void OnDone(const grpc::Status& status) override
        {
            const std::shared_ptr<CSubscription> owner = std::move(mOwner);
            owner->Ended(status);
        }

        grpc::ClientContext mContext;

    private:
        std::shared_ptr<CSubscription> mOwner;
        ipc::MEmpty mRequest;
        Envelope mMessage;
    };

    void Established()
    {
        {
            std::lock_guard lock(mMutex);
            mSubscribed = true;
            mBackoff = kResubscribeMin;
            mChanged.notify_all();
        }
        Log(ELevel::info, "Subscribed to '{}' at {}", mEndpoint.name, mEndpoint.socketPath);
    }

    void Received(const Envelope& envelope)
    {
        mDispatcher->Post([handler = mHandler, envelope] { handler(envelope); });
    }

    void Ended(const grpc::Status& status)
    {
        bool wasSubscribed = false;
        bool cancelled = false;
        {
            std::lock_guard lock(mMutex);
            wasSubscribed = mSubscribed;
            cancelled = mCancelled;
            mSubscribed = false;
        }
        if (wasSubscribed && !cancelled) {
            Log(ELevel::info, "Subscription to '{}' ended ({}); subscribing again", mEndpoint.name, Describe(status));
        } else if (!cancelled) {
            Log(ELevel::debug, "Subscription to '{}' failed ({}); retrying", mEndpoint.name, Describe(status));
        }
        {
            std::lock_guard lock(mMutex);
            mActive = false;
            mNextAttempt = Clock::now() + mBackoff;
            mBackoff = std::min<Clock::duration>(mBackoff * 2, kResubscribeMax);
            mChanged.notify_all();
        }
        mDispatcher->Wake();
    }

    SIpcEndpoint mEndpoint;
    std::shared_ptr<Stub> mStub;
    std::shared_ptr<CClientDispatcher> mDispatcher;
    Handler mHandler;
    mutable std::mutex mMutex; // guards the fields below
    mutable std::condition_variable mChanged;
    std::unique_ptr<CCall> mCall;
    bool mActive = false;
    bool mSubscribed = false;
    bool mCancelled = false;
    Clock::time_point mNextAttempt{};
    Clock::duration mBackoff = kResubscribeMin;
};

class CProcessControlClient final : public IClient<IGenericControl>, public IGenericControl {
public:
    CProcessControlClient(SIpcEndpoint endpoint, std::shared_ptr<ipc::TarvGenCtrl::Stub> stub,
                          std::shared_ptr<ISubscription> subscription)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub)), mSubscription(std::move(subscription))
    {
    }
    std::shared_ptr<IGenericControl> GetInterface() const override { return mSelf.lock(); }
    bool IsSubscribed() const override { return mSubscription && mSubscription->IsSubscribed(); }
    bool WaitSubscribed(std::chrono::milliseconds timeout) const override
    {
        return mSubscription && mSubscription->WaitSubscribed(timeout);
    }

    ipc::MResult Enable() override { return Call(&ipc::TarvGenCtrl::Stub::Enable); }
    ipc::MResult Disable() override { return Call(&ipc::TarvGenCtrl::Stub::Disable); }
    ipc::MState GetState() override
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MState reply;
        const grpc::Status status = mStub->GetState(&context, ipc::MEmpty(), &reply);
        if (!status.ok()) {
            ThrowFailure(mEndpoint, status);
        }
        return reply;
    }

    std::weak_ptr<CProcessControlClient> mSelf;

private:
    template <typename Method>
    ipc::MResult Call(Method method)
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MResult reply;
        const grpc::Status status = ((*mStub).*method)(&context, ipc::MEmpty(), &reply);
        if (!status.ok()) {
            ThrowFailure(mEndpoint, status);
        }
        return reply;
    }

    SIpcEndpoint mEndpoint;
    std::shared_ptr<ipc::TarvGenCtrl::Stub> mStub;
    std::shared_ptr<ISubscription> mSubscription;
};

class CTarvClient final : public IClient<ITarv>, public ITarv {
public:
    CTarvClient(SIpcEndpoint endpoint, std::shared_ptr<ipc::Tarv::Stub> stub,
                std::shared_ptr<ISubscription> subscription)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub)), mSubscription(std::move(subscription))
    {
    }
    std::shared_ptr<ITarv> GetInterface() const override { return mSelf.lock(); }
    bool IsSubscribed() const override { return mSubscription && mSubscription->IsSubscribed(); }
    bool WaitSubscribed(std::chrono::milliseconds timeout) const override
    {
        return mSubscription && mSubscription->WaitSubscribed(timeout);
    }

    ipc::MScanWlan ScanWlan() override
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MScanWlan reply;
        Check(mStub->ScanWlan(&context, ipc::MEmpty(), &reply));
        return reply;
    }
    bool Validate() override
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MBool reply;
        Check(mStub->Validate(&context, ipc::MEmpty(), &reply));
        return reply.value();
    }
    bool TriggerNotification(const ipc::MNetInterfaces& interfaces) override
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MBool reply;
        Check(mStub->TriggerNotification(&context, interfaces, &reply));
        return reply.value();
    }

    std::weak_ptr<CTarvClient> mSelf;

private:
    void Check(const grpc::Status& status) const
    {
        if (!status.ok()) {
            ThrowFailure(mEndpoint, status);
        }
    }

    SIpcEndpoint mEndpoint;
    std::shared_ptr<ipc::Tarv::Stub> mStub;
    std::shared_ptr<ISubscription> mSubscription;
};

class CLogConfigClient final : public IClient<Rpc::ILogConfig>, public Rpc::ILogConfig {
public:
    CLogConfigClient(SIpcEndpoint endpoint, std::shared_ptr<ipc::TarvLog::Stub> stub)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub))
    {
    }
    std::shared_ptr<Rpc::ILogConfig> GetInterface() const override { return mSelf.lock(); }
    bool IsSubscribed() const override { return false; }
    bool WaitSubscribed(std::chrono::milliseconds) const override { return false; }

    int GetLogLevel() override
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MLogLevel reply;
        const grpc::Status status = mStub->GetLogLevel(&context, ipc::MEmpty(), &reply);
        if (!status.ok()) {
            ThrowFailure(mEndpoint, status);
        }
        return reply.level();
    }
    bool SetLogLevel(int level) override
    {
        grpc::ClientContext context;
        PrepareContext(context, kRequestTimeout);
        ipc::MLogLevel request;
        request.set_level(level);
        ipc::MBool reply;
        const grpc::Status status = mStub->SetLogLevel(&context, request, &reply);
        if (!status.ok()) {
            ThrowFailure(mEndpoint, status);
        }
        return reply.value();
    }

    std::weak_ptr<CLogConfigClient> mSelf;

private:
    SIpcEndpoint mEndpoint;
    std::shared_ptr<ipc::TarvLog::Stub> mStub;
};

class CBoardControlClient final : public IClient<IBoardControl>, public IBoardControl {
public:
    CBoardControlClient(SIpcEndpoint endpoint, std::shared_ptr<ipc::BoardControl::Stub> stub)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub))
    {
    }
    std::shared_ptr<IBoardControl> GetInterface() const override { return mSelf.lock(); }
    bool IsSubscribed() const override { return mSubscription && mSubscription->IsSubscribed(); }
    bool WaitSubscribed(std::chrono::milliseconds timeout) const override
    {
        return mSubscription && mSubscription->WaitSubscribed(timeout);
    }

    bool RebootRequest() override
    {
        grpc::ClientContext context;
        PrepareContext(context, kPeerRequestTimeout);
        ipc::MBool reply;
        const grpc::Status status = mStub->RebootRequest(&context, ipc::MEmpty(), &reply);
        if (!status.ok()) {
            Log(ELevel::error, "Reboot request to '{}' at {}: {}", mEndpoint.name, mEndpoint.socketPath,
                Describe(status));
            return false;
        }
        return reply.value();
    }

    std::weak_ptr<CBoardControlClient> mSelf;
    std::shared_ptr<ISubscription> mSubscription;

private:
    SIpcEndpoint mEndpoint;
    std::shared_ptr<ipc::BoardControl::Stub> mStub;
};

class CDiagnosticsClient final : public IClient<IDiagnostics>, public IDiagnostics {
public:
    CDiagnosticsClient(SIpcEndpoint endpoint, std::shared_ptr<ipc::Diagnostics::Stub> stub)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub))
    {
    }
    std::shared_ptr<IDiagnostics> GetInterface() const override { return mSelf.lock(); }
    bool IsSubscribed() const override { return false; }
    bool WaitSubscribed(std::chrono::milliseconds) const override { return false; }

    bool SendSample(const CDiagnosticsCommClient::SSample& sample) override
    {
        grpc::ClientContext context;
        PrepareContext(context, kPeerRequestTimeout);
        ipc::MEmpty reply;
        return mStub->Send(&context, IpcSample::ToMessage(sample), &reply).ok();
    }

    std::weak_ptr<CDiagnosticsClient> mSelf;

private:
    SIpcEndpoint mEndpoint;
    std::shared_ptr<ipc::Diagnostics::Stub> mStub;
};

template <typename T>
std::shared_ptr<T> WithSelf(std::shared_ptr<T> client)
{
    client->mSelf = client;
    return client;
}

bool SocketIsServed(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const bool served = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return served;
}

// Creates the missing directories of the socket path with mode 0750.
void PrepareSocketDirectory(const std::string& socketPath)
{
    const std::filesystem::path directory = std::filesystem::path(socketPath).parent_path();
    std::vector<std::filesystem::path> missing;
    for (auto p = directory; !p.empty() && !std::filesystem::exists(p); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (mkdir(it->c_str(), 0750) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot create the socket directory '" + it->string() +
                                     "': " + std::strerror(errno));
        }
        chmod(it->c_str(), 0750); // independent of the umask
    }
}

// Removes a socket file left behind by an earlier run; refuses to touch a
// socket that another process still serves, or anything that is not a socket.
void RemoveStaleSocket(const std::string& socketPath)
{
    struct stat info {};
    if (lstat(socketPath.c_str(), &info) != 0) {
        return;
    }
    if (!S_ISSOCK(info.st_mode)) {
        throw std::runtime_error("'" + socketPath + "' exists and is not a socket; refusing to replace it");
    }
    if (SocketIsServed(socketPath)) {
        throw std::runtime_error("'" + socketPath + "' is already served by another process");
    }
    Log(ELevel::info, "Removing stale socket '{}'", socketPath);
    unlink(socketPath.c_str());
}

} // namespace

// ---------------------------------------------------------------------------

class GrpcBackend::CImpl {
public:
    explicit CImpl(const std::string& path) : mConfiguration(path) {}

    const SIpcEndpoint& ServedEndpoint(const std::string& name)
    {
        const SIpcEndpoint& endpoint = mConfiguration.GetEndpoint(name);
        std::lock_guard lock(mMutex);
        if (mStarted) {
            throw std::logic_error("IPC service '" + name + "' added after StartServices");
        }
        if (mServiceNames.count(name) != 0) {
            throw std::logic_error("IPC service '" + name + "' added twice");
        }
        mServiceNames.insert(name);
        return endpoint;
    }

    void Register(const std::string& name, const SIpcEndpoint& endpoint, std::unique_ptr<grpc::Service> service,
                  std::function<std::size_t()> count,
                  std::function<bool(std::size_t, std::chrono::milliseconds)> wait,
                  std::function<void()> close)
    {
        std::lock_guard lock(mMutex);
        mServices.push_back(std::move(service));
        if (std::find(mSocketPaths.begin(), mSocketPaths.end(), endpoint.socketPath) == mSocketPaths.end()) {
            mSocketPaths.push_back(endpoint.socketPath);
        }
        if (count) {
            mSubscriberCounts[name] = std::move(count);
            mSubscriberWaits[name] = std::move(wait);
            mHubClosers.push_back(std::move(close));
        }
    }

    // Channels are shared by every host of the process and kept until it
    // ends: each holds a reference to gRPC's process-wide callback queue,
    // and letting that queue go and come back (hosts destroyed and created
    // one after another) races inside the library.
    static std::shared_ptr<grpc::Channel> Channel(const SIpcEndpoint& endpoint)
    {
        static std::mutex channelsMutex;
        // Deliberately never destroyed (see above), not even at exit.
        static auto* channels = new std::map<std::string, std::shared_ptr<grpc::Channel>>; // guarded by channelsMutex
        std::lock_guard lock(channelsMutex);
        auto& channel = (*channels)[endpoint.address];
        if (!channel) {
            grpc::ChannelArguments arguments;
            arguments.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 100);
            arguments.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, 100);
            arguments.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 2000);
            channel = grpc::CreateCustomChannel(endpoint.address, grpc::InsecureChannelCredentials(), arguments);
        }
        return channel;
    }

    void AddSubscription(std::shared_ptr<ISubscription> subscription)
    {
        std::lock_guard lock(mDispatcher->mMutex);
        mSubscriptions.push_back(std::move(subscription));
        mDispatcher->mWake.notify_all();
    }

    void StartServices()
    {
        std::lock_guard lock(mMutex);
        if (mStarted || mStopped) {
            return;
        }
        if (mServices.empty()) {
            mStarted = true;
            return;
        }
        grpc::ServerBuilder builder;
        for (const auto& path : mSocketPaths) {
            PrepareSocketDirectory(path);
            RemoveStaleSocket(path);
            builder.AddListeningPort("unix:" + path, grpc::InsecureServerCredentials());
        }
        for (const auto& service : mServices) {
            builder.RegisterService(service.get());
        }
        // Requests wait for the state machine on these threads: bounded, so a
        // flood of requests is refused instead of exhausting the process.
        grpc::ResourceQuota quota("tarv-ipc");
        quota.SetMaxThreads(kMaxRequestThreads);
        builder.SetResourceQuota(quota);
        builder.SetSyncServerOption(grpc::ServerBuilder::SyncServerOption::MIN_POLLERS, 1);
        builder.SetSyncServerOption(grpc::ServerBuilder::SyncServerOption::MAX_POLLERS, 2);
        mServer = builder.BuildAndStart();
        if (!mServer) {
            std::string paths;
            for (const auto& path : mSocketPaths) {
                paths += (paths.empty() ? "'" : ", '") + path + "'";
            }
            throw std::runtime_error("cannot serve IPC on " + paths + " (see the IPC configuration file '" +
                                     mConfiguration.GetPath() + "')");
        }
        for (const auto& path : mSocketPaths) {
            if (chmod(path.c_str(), 0660) != 0) {
                Log(ELevel::warning, "Cannot set the mode of socket '{}': {}", path, std::strerror(errno));
            }
            Log(ELevel::info, "Serving IPC on '{}'", path);
        }
        mBoundPaths = mSocketPaths;
        mStarted = true;
    }

    void RunServer()
    {
        std::unique_lock lock(mMutex);
        mStopChanged.wait(lock, [&] { return mStopped; });
    }

    void HandleClientNotifications()
    {
        std::unique_lock lock(mDispatcher->mMutex);
        for (;;) {
            if (mClientsStopped) {
                return;
            }
            while (!mDispatcher->mQueue.empty()) {
                auto delivery = std::move(mDispatcher->mQueue.front());
                mDispatcher->mQueue.pop_front();
                lock.unlock();
                try {
                    delivery();
                } catch (const std::exception& e) {
                    Log(ELevel::error, "A notification listener failed: {}", e.what());
                }
                lock.lock();
                if (mClientsStopped) {
                    return;
                }
            }
            const auto subscriptions = mSubscriptions;
            const std::uint64_t generation = mDispatcher->mGeneration;
            lock.unlock();
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            for (const auto& subscription : subscriptions) {
                subscription->StartIfDue(now);
                next = std::min(next, subscription->NextAttempt());
            }
            lock.lock();
            if (mClientsStopped || !mDispatcher->mQueue.empty() || mSubscriptions.size() != subscriptions.size() ||
                mDispatcher->mGeneration != generation) {
                continue;
            }
            if (next == Clock::time_point::max()) {
                mDispatcher->mWake.wait(lock);
            } else {
                mDispatcher->mWake.wait_until(lock, next);
            }
        }
    }

    void Stop()
    {
        std::vector<std::function<void()>> closers;
        std::unique_ptr<grpc::Server>* server = nullptr;
        {
            std::lock_guard lock(mMutex);
            if (mStopped) {
                return;
            }
            mStopped = true;
            closers = mHubClosers;
            server = &mServer;
            mStopChanged.notify_all();
        }
        for (auto& close : closers) {
            close();
        }
        if (*server) {
            (*server)->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
            Retire(std::move(*server));
        }
        std::vector<std::shared_ptr<ISubscription>> subscriptions;
        {
            std::lock_guard lock(mDispatcher->mMutex);
            mClientsStopped = true;
            subscriptions = mSubscriptions;
            mDispatcher->mWake.notify_all();
        }
        for (const auto& subscription : subscriptions) {
            subscription->Cancel();
        }
        // The calls' last callbacks refer to their subscriptions: wait for them.
        const auto deadline = Clock::now() + kShutdownGrace;
        for (const auto& subscription : subscriptions) {
            subscription->WaitIdle(deadline);
        }
        // Only the sockets this host bound: never those of another process.
        std::vector<std::string> bound;
        {
            std::lock_guard lock(mMutex);
            bound = mBoundPaths;
        }
        for (const auto& path : bound) {
            if (unlink(path.c_str()) == 0) {
                Log(ELevel::debug, "Removed socket '{}'", path);
            }
        }
    }

    // A stopped server is kept, never destroyed, for the same reason the
    // channels are: destroying it releases gRPC's process-wide callback
    // queue, whose shutdown races inside the library (it crashed the daemon
    // at exit). It holds no socket any more after Shutdown.
    static void Retire(std::unique_ptr<grpc::Server> server)
    {
        static std::mutex retiredMutex;
        static auto* retired = new std::vector<std::unique_ptr<grpc::Server>>; // guarded by retiredMutex
        std::lock_guard lock(retiredMutex);
        retired->push_back(std::move(server));
    }

    std::size_t SubscriberCount(const std::string& name) const
    {
        std::lock_guard lock(mMutex);
        const auto it = mSubscriberCounts.find(name);
        return it == mSubscriberCounts.end() ? 0 : it->second();
    }

    bool WaitForSubscribers(const std::string& name, std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::function<bool(std::size_t, std::chrono::milliseconds)> wait;
        {
            std::lock_guard lock(mMutex);
            const auto it = mSubscriberWaits.find(name);
            if (it == mSubscriberWaits.end()) {
                return false;
            }
            wait = it->second;
        }
        return wait(count, timeout);
    }

    CIpcConfiguration mConfiguration;
    std::shared_ptr<CClientDispatcher> mDispatcher = std::make_shared<CClientDispatcher>();

private:
    mutable std::mutex mMutex; // guards every field below except those marked otherwise
    std::condition_variable mStopChanged;
    std::set<std::string> mServiceNames;
    std::vector<std::unique_ptr<grpc::Service>> mServices;
    std::vector<std::string> mSocketPaths; // written only before StartServices
    std::vector<std::string> mBoundPaths;  // the socket files this host created
    std::map<std::string, std::function<std::size_t()>> mSubscriberCounts;
    std::map<std::string, std::function<bool(std::size_t, std::chrono::milliseconds)>> mSubscriberWaits;
    std::vector<std::function<void()>> mHubClosers;
    std::unique_ptr<grpc::Server> mServer;
    bool mStarted = false;
    bool mStopped = false;
    // Guarded by mDispatcher->mMutex.
    std::vector<std::shared_ptr<ISubscription>> mSubscriptions;
    bool mClientsStopped = false;
};

void GrpcBackend::SetLogger(std::shared_ptr<Rpc::ILogger> logger)
{
    {
        std::lock_guard lock(gLoggerMutex);
        gLogger = std::move(logger);
    }
    InitializeGrpc();
}

std::shared_ptr<Rpc::ILogger> GrpcBackend::GetLogger()
{
    std::lock_guard lock(gLoggerMutex);
    return gLogger;
}

GrpcBackend::GrpcBackend(const std::string& configurationPath)
{
    InitializeGrpc();
    mImpl = std::make_shared<CImpl>(configurationPath);
}

GrpcBackend::~GrpcBackend()
{
    Stop();
}

void GrpcBackend::StartServices()
{
    mImpl->StartServices();
}

void GrpcBackend::RunServer()
{
    mImpl->RunServer();
}

void GrpcBackend::HandleClientNotifications()
{
    mImpl->HandleClientNotifications();
}

void GrpcBackend::Stop()
{
    mImpl->Stop();
}

std::size_t GrpcBackend::SubscriberCount(const std::string& name) const
{
    return mImpl->SubscriberCount(name);
}

bool GrpcBackend::WaitForSubscribers(const std::string& name, std::size_t count,
                                     std::chrono::milliseconds timeout) const
{
    return mImpl->WaitForSubscribers(name, count, timeout);
}

namespace {
template <typename Server>
void RegisterWithHub(GrpcBackend::CImpl& impl, const std::string& name, const SIpcEndpoint& endpoint,
                     std::unique_ptr<Server> server)
{
    auto* hub = &server->Hub();
    impl.Register(
        name, endpoint, std::move(server), [hub] { return hub->Count(); },
        [hub](std::size_t count, std::chrono::milliseconds timeout) { return hub->WaitFor(count, timeout); },
        [hub] { hub->Close(); });
}
} // namespace

std::shared_ptr<IServer> GrpcBackend::AddProcessControlService(const std::string& name,
                                                               std::shared_ptr<IGenericControl> service,
                                                               SProcessControlSenders& senders)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    auto server = std::make_unique<CProcessControlServer>(name, std::move(service));
    auto* raw = server.get();
    // A notification sent after the host is gone is dropped instead of
    // touching freed memory (the service object outlives the host).
    std::weak_ptr<CImpl> weak = mImpl;
    senders.state = [weak, raw](const ipc::MState& state) {
        if (const auto impl = weak.lock()) {
            raw->SendState(state);
        }
    };
    senders.alive = [weak, raw] {
        if (const auto impl = weak.lock()) {
            raw->SendAlive();
        }
    };
    RegisterWithHub(*mImpl, name, endpoint, std::move(server));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddTarvService(const std::string& name, std::shared_ptr<ITarv> service,
                                                     STarvSenders& senders)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    auto server = std::make_unique<CTarvServer>(name, std::move(service));
    auto* raw = server.get();
    std::weak_ptr<CImpl> weak = mImpl;
    senders.status = [weak, raw](const ipc::MNetStatus& status) {
        if (const auto impl = weak.lock()) {
            raw->SendStatus(status);
        }
    };
    senders.value = [weak, raw](float value) {
        if (const auto impl = weak.lock()) {
            raw->SendValue(value);
        }
    };
    RegisterWithHub(*mImpl, name, endpoint, std::move(server));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddLogConfigService(const std::string& name,
                                                          std::shared_ptr<Rpc::ILogConfig> service)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    mImpl->Register(name, endpoint, std::make_unique<CLogConfigServer>(name, std::move(service)), {}, {}, {});
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddBoardControlService(const std::string& name,
                                                             std::shared_ptr<IBoardControl> service,
                                                             std::function<void()>& mainsLostSender)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    auto server = std::make_unique<CBoardControlServer>(name, std::move(service));
    auto* raw = server.get();
    std::weak_ptr<CImpl> weak = mImpl;
    mainsLostSender = [weak, raw] {
        if (const auto impl = weak.lock()) {
            raw->SendMainsLost();
        }
    };
    RegisterWithHub(*mImpl, name, endpoint, std::move(server));
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IServer> GrpcBackend::AddDiagnosticsService(const std::string& name,
                                                            std::shared_ptr<IDiagnostics> service)
{
    const SIpcEndpoint& endpoint = mImpl->ServedEndpoint(name);
    mImpl->Register(name, endpoint, std::make_unique<CDiagnosticsServer>(name, std::move(service)), {}, {}, {});
    return std::make_shared<CNamedServer>(name);
}

std::shared_ptr<IClient<IGenericControl>> GrpcBackend::CreateProcessControlClient(
    const std::string& name, std::shared_ptr<IProcessControl> listener)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::TarvGenCtrl::Stub>(ipc::TarvGenCtrl::NewStub(mImpl->Channel(endpoint)));
    std::shared_ptr<ISubscription> subscription;
    if (listener) {
        subscription = std::make_shared<CSubscription<ipc::TarvGenCtrl::Stub, ipc::MGenCtrlNotification>>(
            endpoint, stub, mImpl->mDispatcher, [listener](const ipc::MGenCtrlNotification& notification) {
                if (notification.has_state()) {
                    listener->NotifyState(notification.state());
                } else if (notification.has_alive()) {
                    listener->NotifyAlive();
                }
            });
        mImpl->AddSubscription(subscription);
    }
    return WithSelf(std::make_shared<CProcessControlClient>(endpoint, stub, subscription));
}

std::shared_ptr<IClient<ITarv>> GrpcBackend::CreateTarvClient(const std::string& name,
                                                              std::shared_ptr<ITarvClient> listener)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::Tarv::Stub>(ipc::Tarv::NewStub(mImpl->Channel(endpoint)));
    std::shared_ptr<ISubscription> subscription;
    if (listener) {
        subscription = std::make_shared<CSubscription<ipc::Tarv::Stub, ipc::MTarvNotification>>(
            endpoint, stub, mImpl->mDispatcher, [listener](const ipc::MTarvNotification& notification) {
                if (notification.has_status()) {
                    listener->NotifyStatus(notification.status());
                } else if (notification.has_value()) {
                    listener->NotifyFloat(notification.value().value());
                }
            });
        mImpl->AddSubscription(subscription);
    }
    return WithSelf(std::make_shared<CTarvClient>(endpoint, stub, subscription));
}

std::shared_ptr<IClient<Rpc::ILogConfig>> GrpcBackend::CreateLogConfigClient(const std::string& name)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::TarvLog::Stub>(ipc::TarvLog::NewStub(mImpl->Channel(endpoint)));
    return WithSelf(std::make_shared<CLogConfigClient>(endpoint, stub));
}

std::shared_ptr<IClient<IBoardControl>> GrpcBackend::CreateBoardControlClient(const std::string& name)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::BoardControl::Stub>(ipc::BoardControl::NewStub(mImpl->Channel(endpoint)));
    auto client = WithSelf(std::make_shared<CBoardControlClient>(endpoint, stub));
    std::weak_ptr<CBoardControlClient> weak = client;
    client->mSubscription = std::make_shared<CSubscription<ipc::BoardControl::Stub, ipc::MBoardControlNotification>>(
        endpoint, stub, mImpl->mDispatcher, [weak](const ipc::MBoardControlNotification& notification) {
            const auto target = weak.lock();
            if (target && notification.has_mainslost()) {
                target->NotifyMainsLost();
            }
        });
    mImpl->AddSubscription(client->mSubscription);
    return client;
}

std::shared_ptr<IClient<IDiagnostics>> GrpcBackend::CreateDiagnosticsClient(const std::string& name)
{
    const SIpcEndpoint& endpoint = mImpl->mConfiguration.GetEndpoint(name);
    auto stub = std::shared_ptr<ipc::Diagnostics::Stub>(ipc::Diagnostics::NewStub(mImpl->Channel(endpoint)));
    return WithSelf(std::make_shared<CDiagnosticsClient>(endpoint, stub));
}

#if defined(__SANITIZE_THREAD__)
// The gRPC and Abseil libraries of the system are not built with
// ThreadSanitizer, so the synchronisation inside them is invisible to it and
// every access they make to shared buffers looks like a race. Reports with a
// gRPC or Abseil frame in either stack are suppressed; races between two
// stacks of our own code are still reported. gRPC's own threads live until
// the process ends (the library is never shut down): not a leak.
extern "C" const char* __tsan_default_suppressions()
{
    return "called_from_lib:libgrpc.so\n"
           "called_from_lib:libgrpc++.so\n"
           "called_from_lib:libgpr.so\n"
           "race:libgrpc.so\n"
           "race:libgrpc++.so\n"
           "race:libgpr.so\n"
           "race:libabsl_\n"
           "race:/usr/include/grpcpp/\n"
           "race:/usr/include/grpc/\n"
           "thread:libgpr.so\n"
           "deadlock:libgrpc.so\n"
           "deadlock:libabsl_\n";
}
#endif
