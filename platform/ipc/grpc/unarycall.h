#pragma once
// One served unary call on the asynchronous server: accepted on the
// completion queue, answered from any thread with Finish. Every accepted
// call arms the next one, so a method always has one call waiting.

#include "platform/ipc/grpc/completiontag.h"

#include <grpcpp/grpcpp.h>

#include <atomic>
#include <functional>
#include <memory>

namespace IpcGrpc {

template <typename Request, typename Reply>
class CUnaryCall final : public std::enable_shared_from_this<CUnaryCall<Request, Reply>> {
public:
    // Asks gRPC for the next call of the method (the generated RequestX).
    using Arm = std::function<void(grpc::ServerContext*, Request*, grpc::ServerAsyncResponseWriter<Reply>*, void*)>;
    // Called on the completion-queue thread for each call that arrives.
    using OnCall = std::function<void(const std::shared_ptr<CUnaryCall>&)>;

    static void Accept(const Arm& arm, const OnCall& onCall)
    {
        auto call = std::make_shared<CUnaryCall>();
        auto* raw = call.get();
        // gRPC returns this tag only for a call that started: until then the
        // call owns it.
        raw->mContext.AsyncNotifyWhenDone(raw->mDone.get());
        arm(&raw->mContext, &raw->mRequest, &raw->mResponder, MakeTag([call, arm, onCall](bool ok) {
                if (!ok) {
                    return; // the server shuts down
                }
                Accept(arm, onCall);
                // The call started: its done tag comes back, later than this one.
                auto* done = call->mDone.release();
                done->run = [call](bool) { call->mCancelled = call->mContext.IsCancelled(); };
                onCall(call);
            }));
    }

    grpc::ServerContext& Context() { return mContext; }
    const Request& GetRequest() const { return mRequest; }
    Reply& GetReply() { return mReply; }
    // Whether the call ended before it was answered (the client cancelled or
    // went away).
    bool Cancelled() const { return mCancelled; }

    // Answers the call, from any thread, once.
    void Finish(const grpc::Status& status)
    {
        mResponder.Finish(mReply, status, MakeTag([self = this->shared_from_this()](bool) {}));
    }

private:
    grpc::ServerContext mContext;
    Request mRequest;
    Reply mReply;
    grpc::ServerAsyncResponseWriter<Reply> mResponder{&mContext};
    std::unique_ptr<SCompletionTag> mDone = std::make_unique<SCompletionTag>();
    std::atomic<bool> mCancelled{false};
};

} // namespace IpcGrpc
