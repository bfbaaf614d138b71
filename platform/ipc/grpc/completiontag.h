#pragma once
// Completion-queue tags: each operation started on a completion queue gets
// a tag that carries what to do when the operation completes. The thread
// that drives the queue runs and frees it (RunTag). A tag may hold a
// shared_ptr to the call it belongs to: the call then lives until its last
// operation completed.

#include <grpcpp/grpcpp.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include <functional>
#include <memory>
#include <utility>

namespace IpcGrpc {

struct SCompletionTag {
    std::function<void(bool ok)> run;
};

// ThreadSanitizer cannot see the synchronisation inside gRPC (the library is
// not built for it), nor that a reply or a notification crosses a socket to
// another thread of the same process. For it, every hand-over to gRPC and
// every delivery from it meet at one address: what a thread did before it
// handed an operation over happens before whatever runs on its delivery.
// Other builds compile these to nothing.
#if defined(__SANITIZE_THREAD__)
inline char gTransportOrder;
inline void HandOver() { __tsan_release(&gTransportOrder); }
inline void TakeOver() { __tsan_acquire(&gTransportOrder); }
#else
inline void HandOver() {}
inline void TakeOver() {}
#endif

// The tag handed to gRPC: owned by the completion queue until RunTag.
inline void* MakeTag(std::function<void(bool ok)> run)
{
    void* tag = std::make_unique<SCompletionTag>(SCompletionTag{std::move(run)}).release();
    HandOver();
    return tag;
}

inline void RunTag(void* tag, bool ok)
{
    TakeOver();
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
