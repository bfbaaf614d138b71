#pragma once
// gRPC's event engine reduced to what the library asks of it here: run a
// task soon, run one after a delay, cancel one. Every task runs on one
// worker thread that sleeps until the next task is due, so an idle process
// is not woken. The library's default engine keeps a thread pool and a timer
// thread that wake several times a second whatever happens.
//
// The same thread checks every 10 s whether IPC traffic left freed heap
// resident (CHeapTrimmer).
//
// Connections, listeners and name resolution are not offered: this gRPC
// version does them on its own I/O manager. Asked for one anyway, the engine
// fails that request with an error instead of ending the process.

#include "platform/ipc/grpc/heaptrimmer.h"
#include "platform/worker/iclock.h"
#include "platform/worker/worker.h"

#include <grpc/event_engine/event_engine.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace IpcGrpc {

class CTimerEventEngine final : public grpc_event_engine::experimental::EventEngine {
public:
    explicit CTimerEventEngine(std::shared_ptr<IClock> clock = IClock::Steady());
    // Cancels the tasks still queued and joins the worker thread.
    ~CTimerEventEngine() override;
    CTimerEventEngine(const CTimerEventEngine&) = delete;
    CTimerEventEngine& operator=(const CTimerEventEngine&) = delete;

    void Run(Closure* closure) override;
    void Run(absl::AnyInvocable<void()> closure) override;
    TaskHandle RunAfter(Duration when, Closure* closure) override;
    TaskHandle RunAfter(Duration when, absl::AnyInvocable<void()> closure) override;
    bool Cancel(TaskHandle handle) override;
    bool IsWorkerThread() override;

    absl::StatusOr<std::unique_ptr<Listener>> CreateListener(
        Listener::AcceptCallback on_accept, absl::AnyInvocable<void(absl::Status)> on_shutdown,
        const grpc_event_engine::experimental::EndpointConfig& config,
        std::unique_ptr<grpc_event_engine::experimental::MemoryAllocatorFactory> memory_allocator_factory) override;
    ConnectionHandle Connect(OnConnectCallback on_connect, const ResolvedAddress& addr,
                             const grpc_event_engine::experimental::EndpointConfig& args,
                             grpc_event_engine::experimental::MemoryAllocator memory_allocator,
                             Duration timeout) override;
    bool CancelConnect(ConnectionHandle handle) override;
    std::unique_ptr<DNSResolver> GetDNSResolver(const DNSResolver::ResolverOptions& options) override;

private:
    TaskHandle Schedule(Duration when, absl::AnyInvocable<void()> task);
    // Takes the task out of the table: whoever gets it runs or drops it.
    absl::AnyInvocable<void()> Take(std::uint64_t id);

    // How often the heap trimmer looks at the resident size.
    static constexpr IClock::duration kHeapCheckPeriod = std::chrono::seconds(10);

    CWorker mWorker;
    CHeapTrimmer mHeapTrimmer; // used on mWorker's thread only
    std::mutex mMutex; // guards the fields below
    std::unordered_map<std::uint64_t, absl::AnyInvocable<void()>> mTasks;
    std::unordered_map<std::uint64_t, CWorker::CallHandle> mCalls;
    std::uint64_t mNextId = 1;
};

} // namespace IpcGrpc
