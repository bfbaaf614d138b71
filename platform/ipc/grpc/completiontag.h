#pragma once
// Completion-queue tags: each operation started on a completion queue gets
// a tag that carries what to do when the operation completes. The thread
// that drives the queue runs and frees it (RunTag). A tag may hold a
// shared_ptr to the call it belongs to: the call then lives until its last
// operation completed.

#include <grpcpp/grpcpp.h>

#include <functional>
#include <memory>
#include <utility>

namespace IpcGrpc {

struct SCompletionTag {
    std::function<void(bool ok)> run;
};

// The tag handed to gRPC: owned by the completion queue until RunTag.
inline void* MakeTag(std::function<void(bool ok)> run)
{
    return std::make_unique<SCompletionTag>(SCompletionTag{std::move(run)}).release();
}

inline void RunTag(void* tag, bool ok)
{
    const std::unique_ptr<SCompletionTag> owned(static_cast<SCompletionTag*>(tag));
    if (owned->run) {
        owned->run(ok);
    }
}

// Runs the tags of a queue until it is shut down and empty.
inline void DrainQueue(grpc::CompletionQueue& queue)
{
    void* tag = nullptr;
    bool ok = false;
    while (queue.Next(&tag, &ok)) {
        RunTag(tag, ok);
    }
}

} // namespace IpcGrpc
