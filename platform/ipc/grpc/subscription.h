#pragma once
// Client side notification subscriptions: each one keeps a streaming call to
// the peer established on the client completion queue (retrying an absent peer with back-off) and posts what
// it receives to the dispatcher, whose queue the notification thread empties
// into the listeners.

#include "platform/ipc/grpc/callstatus.h"
#include "platform/ipc/grpc/completiontag.h"
#include "platform/ipc/grpc/ipclimits.h"
#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/ipcconfiguration.h"
#include "proto/services.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace IpcGrpc {

class ISubscription {
public:
    virtual ~ISubscription() = default;
    // All called on the notification thread (Cancel also from Stop).
    virtual void StartIfDue(Clock::time_point now) = 0;
    virtual Clock::time_point NextAttempt() const = 0;
    virtual void Cancel() = 0;
    virtual bool WaitIdle(Clock::time_point deadline) const = 0;
    virtual bool IsSubscribed() const = 0;
    virtual bool WaitSubscribed(std::chrono::milliseconds timeout) const = 0;
};

// Delivery queue and wake-ups of the notification thread. The thread waits
// on an event descriptor, so it can wait on other descriptors as well.
class CClientDispatcher {
public:
    CClientDispatcher() : mEventFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        if (mEventFd < 0) {
            throw std::runtime_error(std::string("cannot create the IPC notification event: ") +
                                     std::strerror(errno));
        }
    }
    ~CClientDispatcher() { close(mEventFd); }
    CClientDispatcher(const CClientDispatcher&) = delete;
    CClientDispatcher& operator=(const CClientDispatcher&) = delete;

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
        Signal();
    }
    void Wake()
    {
        std::lock_guard lock(mMutex);
        ++mGeneration;
        Signal();
    }
    // Makes the current or next Wait return.
    void Signal()
    {
        const std::uint64_t one = 1;
        (void)!write(mEventFd, &one, sizeof(one));
    }
    // Waits (without mMutex) for a Signal, for otherFd (if not -1) to be
    // readable, or until the deadline.
    void Wait(Clock::time_point deadline, int otherFd)
    {
        pollfd fds[2] = {{mEventFd, POLLIN, 0}, {otherFd, POLLIN, 0}};
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<std::int64_t>(left, 0, 60'000));
        }
        poll(fds, otherFd < 0 ? 1 : 2, timeout);
        std::uint64_t count = 0;
        (void)!read(mEventFd, &count, sizeof(count));
    }

    std::mutex mMutex; // guards mQueue, mDropped, mGeneration and the host's client state (see CImpl)
    std::deque<std::function<void()>> mQueue;
    std::size_t mDropped = 0;
    // Counts wake-ups, so one that comes while the notification thread is
    // busy is not lost.
    std::uint64_t mGeneration = 0;

private:
    const int mEventFd;
};

template <typename Stub, typename Envelope>
class CSubscription final : public ISubscription, public std::enable_shared_from_this<CSubscription<Stub, Envelope>> {
public:
    using Handler = std::function<void(const Envelope&)>;

    // The calls run on queue, which outlives the subscription's calls.
    CSubscription(SIpcEndpoint endpoint, std::shared_ptr<Stub> stub, grpc::CompletionQueue& queue,
                  std::shared_ptr<CClientDispatcher> dispatcher, Handler handler)
        : mEndpoint(std::move(endpoint)), mStub(std::move(stub)), mQueue(&queue), mDispatcher(std::move(dispatcher)),
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
            previous = std::move(mCall); // its last tag has run: safe to delete
            mCall = std::make_unique<CCall>(*this);
            mActive = true;
            call = mCall.get();
        }
        call->Start(*mStub, *mQueue);
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
    // One streaming call on the client completion queue: start, initial
    // metadata (the peer accepted the subscription), then one read after the
    // other until the stream ends. Each step's tag keeps the subscription,
    // and with it the call, alive.
    class CCall {
    public:
        explicit CCall(CSubscription& owner) : mOwner(owner) {}

        void Start(Stub& stub, grpc::CompletionQueue& queue)
        {
            mContext.set_wait_for_ready(true);
            mReader = stub.PrepareAsyncSubscribe(&mContext, mRequest, &queue);
            mReader->StartCall(Step([this](bool ok) {
                if (!ok) {
                    return Finish();
                }
                mReader->ReadInitialMetadata(Step([this](bool ok) {
                    if (!ok) {
                        return Finish();
                    }
                    mOwner.Established();
                    Read();
                }));
            }));
        }

        grpc::ClientContext mContext;

    private:
        void* Step(std::function<void(bool)> next)
        {
            return MakeTag([owner = mOwner.shared_from_this(), next = std::move(next)](bool ok) { next(ok); });
        }
        void Read()
        {
            mReader->Read(&mMessage, Step([this](bool ok) {
                if (!ok) {
                    return Finish();
                }
                mOwner.Received(mMessage);
                Read();
            }));
        }
        void Finish()
        {
            mReader->Finish(&mStatus, Step([this](bool) { mOwner.Ended(mStatus); }));
        }

        CSubscription& mOwner;
        ipc::MEmpty mRequest;
        Envelope mMessage;
        grpc::Status mStatus;
        std::unique_ptr<grpc::ClientAsyncReader<Envelope>> mReader;
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
    grpc::CompletionQueue* mQueue;
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

} // namespace IpcGrpc
