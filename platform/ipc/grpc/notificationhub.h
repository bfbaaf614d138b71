#pragma once
// The notification fan-out of a served service: one reactor per subscribed
// client, each with its own bounded queue, so a slow or vanished subscriber
// never blocks the sender nor the other subscribers.

#include "platform/ipc/grpc/ipclimits.h"
#include "platform/ipc/grpc/ipclog.h"
#include "platform/ipc/iipcobserver.h"

#include <grpcpp/grpcpp.h>

#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace IpcGrpc {

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
    CNotificationHub(std::string service, std::shared_ptr<IIpcObserver> observer)
        : mService(std::move(service)), mObserver(std::move(observer))
    {
    }

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
                Report();
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
            Report();
        }
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

private:
    // Called with mMutex held, so the observer sees the changes in order.
    void Report()
    {
        if (mObserver) {
            mObserver->SubscribersChanged(mService, mReactors.size());
        }
    }

    std::string mService;
    std::shared_ptr<IIpcObserver> mObserver;
    std::mutex mMutex; // guards mReactors and mClosed
    std::set<CSubscriberReactor<Envelope>*> mReactors;
    bool mClosed = false;
};

template <typename Envelope>
void CSubscriberReactor<Envelope>::OnDone()
{
    mHub->Remove(this);
    delete this;
}


} // namespace IpcGrpc
