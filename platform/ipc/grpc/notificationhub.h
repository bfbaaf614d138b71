#pragma once
// The notification fan-out of a served service: one streaming call per
// subscribed client, each with its own bounded queue, so a slow or vanished
// subscriber never blocks the sender nor the other subscribers.

#include "platform/ipc/grpc/completiontag.h"
#include "platform/ipc/grpc/ipclimits.h"
#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/iipcobserver.h"
#include "platform/log/logthrottle.h"
#include "proto/servicemessages.pb.h"

#include <grpcpp/grpcpp.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace IpcGrpc {

// One subscribed client. Writes go out one at a time from its queue; the
// completion of each starts the next one.
template <typename Envelope>
class CSubscriber final : public std::enable_shared_from_this<CSubscriber<Envelope>> {
public:
    explicit CSubscriber(std::string service) : mService(std::move(service)) {}

    grpc::ServerContext mContext;
    ipc::MEmpty mRequest;
    grpc::ServerAsyncWriter<Envelope> mWriter{&mContext};
    // Returned by gRPC only for a call that started; owned here until then.
    std::unique_ptr<SCompletionTag> mDone = std::make_unique<SCompletionTag>();

    // Sends the initial metadata, so the client knows it is subscribed
    // before the first notification.
    void Begin()
    {
        std::lock_guard lock(mMutex);
        mWriting = true;
        mWriter.SendInitialMetadata(MakeTag([self = this->shared_from_this()](bool ok) { self->Written(ok); }));
    }

    // Queues a notification; never blocks. When the queue is full the oldest
    // notification not yet being written is dropped.
    void Push(const Envelope& envelope)
    {
        std::lock_guard lock(mMutex);
        if (mEnding) {
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

    // Ends the subscription with the status once the write in progress is
    // done; nothing more is written.
    void Close(const grpc::Status& status)
    {
        std::lock_guard lock(mMutex);
        if (std::exchange(mEnding, true)) {
            return;
        }
        mQueue.clear();
        if (mWriting) {
            mFinal = status;
        } else {
            FinishLocked(status);
        }
    }

    // Notifications wait for it: it does not keep up, or never reads.
    bool Backlogged()
    {
        std::lock_guard lock(mMutex);
        return !mQueue.empty() || mDropped > 0;
    }

    // The call ended (finished, cancelled or the client went away).
    void Ended()
    {
        std::lock_guard lock(mMutex);
        mEnding = true;
        mQueue.clear();
        mFinal.reset();
    }

private:
    void Written(bool ok)
    {
        std::lock_guard lock(mMutex);
        mWriting = false;
        if (!ok) {
            // The call is over: nothing more can be written.
            mEnding = true;
            mQueue.clear();
            mFinal.reset();
        } else if (mFinal) {
            FinishLocked(*mFinal);
            mFinal.reset();
        } else if (!mEnding && !mQueue.empty()) {
            WriteNext();
        }
    }

    // Called with mMutex held; operations never complete inline.
    void WriteNext()
    {
        mWriting = true;
        mInFlight = std::move(mQueue.front());
        mQueue.pop_front();
        mWriter.Write(mInFlight, MakeTag([self = this->shared_from_this()](bool ok) { self->Written(ok); }));
    }
    void FinishLocked(const grpc::Status& status)
    {
        mWriter.Finish(status, MakeTag([self = this->shared_from_this()](bool) {}));
    }

    std::string mService;
    std::mutex mMutex;           // guards the fields below
    std::deque<Envelope> mQueue; // waiting to be written
    Envelope mInFlight;          // being written while mWriting
    bool mWriting = false;       // an operation (metadata or write) is in progress
    bool mEnding = false;        // nothing more is queued or written
    std::optional<grpc::Status> mFinal; // the finish waiting for the write in progress
    std::size_t mDropped = 0;
};

template <typename Envelope>
class CNotificationHub {
public:
    using Subscriber = CSubscriber<Envelope>;
    // Asks gRPC for the next Subscribe call (the generated RequestSubscribe).
    using Arm = std::function<void(grpc::ServerContext*, ipc::MEmpty*, grpc::ServerAsyncWriter<Envelope>*, void*)>;

    CNotificationHub(std::string service, std::shared_ptr<IIpcObserver> observer)
        : mService(std::move(service)), mObserver(std::move(observer))
    {
    }

    // Accepts subscriptions from now on; called on the completion-queue thread
    // or before it runs.
    void Accept(const Arm& arm)
    {
        auto subscriber = std::make_shared<Subscriber>(mService);
        auto* raw = subscriber.get();
        raw->mContext.AsyncNotifyWhenDone(raw->mDone.get());
        arm(&raw->mContext, &raw->mRequest, &raw->mWriter, MakeTag([this, subscriber, arm](bool ok) {
                if (!ok) {
                    return; // the server shuts down
                }
                Accept(arm);
                auto* done = subscriber->mDone.release();
                done->run = [this, subscriber](bool) {
                    subscriber->Ended();
                    Remove(subscriber);
                };
                Admit(subscriber);
            }));
    }

    void Publish(const Envelope& envelope)
    {
        std::lock_guard lock(mMutex);
        for (const auto& [subscriber, admitted] : mSubscribers) {
            subscriber->Push(envelope);
        }
    }

    // Ends every subscription and refuses further ones (the host stops).
    void Close()
    {
        std::lock_guard lock(mMutex);
        mClosed = true;
        for (const auto& [subscriber, admitted] : mSubscribers) {
            subscriber->Close(grpc::Status::OK);
        }
    }

private:
    void Admit(const std::shared_ptr<Subscriber>& subscriber)
    {
        std::lock_guard lock(mMutex);
        if (mClosed) {
            subscriber->Close({grpc::StatusCode::UNAVAILABLE, "stopping"});
            return;
        }
        if (mSubscribers.size() >= kSubscriberLimit) {
            EvictLocked();
        }
        // Under the lock: the initial metadata goes out before any
        // notification a concurrent Publish queues.
        subscriber->Begin();
        mSubscribers.emplace(subscriber, ++mAdmitted);
        Log(ELevel::debug, "Client subscribed to '{}'", mService);
        Report();
    }

    void Remove(const std::shared_ptr<Subscriber>& subscriber)
    {
        std::lock_guard lock(mMutex);
        if (mSubscribers.erase(subscriber) != 0) {
            Log(ELevel::debug, "Client of '{}' unsubscribed", mService);
            Report();
        }
    }

    // Makes room for a new subscriber, so that idle subscriptions held by
    // any local process never lock out a peer that (re)subscribes: the
    // oldest subscriber that does not keep up goes, else the oldest one.
    void EvictLocked()
    {
        auto victim = mSubscribers.end();
        bool victimBacklogged = false;
        for (auto it = mSubscribers.begin(); it != mSubscribers.end(); ++it) {
            const bool backlogged = it->first->Backlogged();
            if (victim == mSubscribers.end() || (backlogged && !victimBacklogged)
                || (backlogged == victimBacklogged && it->second < victim->second)) {
                victim = it;
                victimBacklogged = backlogged;
            }
        }
        if (const auto skipped = mEvictionLog.Allow(CLogThrottle::Clock::now())) {
            Log(ELevel::warning, "'{}' has {} subscribers: ending the oldest {}subscription for a new one{}", mService,
                kSubscriberLimit, victimBacklogged ? "backlogged " : "",
                *skipped > 0 ? " (" + std::to_string(*skipped) + " more since the last report)" : std::string());
        }
        victim->first->Close({grpc::StatusCode::RESOURCE_EXHAUSTED, "too many subscribers: the oldest is ended"});
        mSubscribers.erase(victim);
    }

    // Called with mMutex held, so the observer sees the changes in order.
    void Report()
    {
        if (mObserver) {
            mObserver->SubscribersChanged(mService, mSubscribers.size());
        }
    }

    std::string mService;
    std::shared_ptr<IIpcObserver> mObserver;
    std::mutex mMutex; // guards mSubscribers, mAdmitted and mClosed
    std::map<std::shared_ptr<Subscriber>, std::uint64_t> mSubscribers; // with the number of its admission
    std::uint64_t mAdmitted = 0;
    bool mClosed = false;
    CLogThrottle mEvictionLog; // own guard
};

} // namespace IpcGrpc
