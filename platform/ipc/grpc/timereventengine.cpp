#include "platform/ipc/grpc/timereventengine.h"

#include "platform/ipc/grpc/ipclog.h"

#include <chrono>
#include <utility>

namespace IpcGrpc {

using grpc_event_engine::experimental::EndpointConfig;
using grpc_event_engine::experimental::MemoryAllocator;
using grpc_event_engine::experimental::MemoryAllocatorFactory;

CTimerEventEngine::CTimerEventEngine(std::shared_ptr<IClock> clock) : mWorker("ipc-timers", std::move(clock))
{
    mWorker.Start();
    mWorker.AddCall([this] { mHeapTrimmer.Check(); }, mWorker.Clock().Now() + kHeapCheckPeriod, kHeapCheckPeriod);
}

CTimerEventEngine::~CTimerEventEngine()
{
    mWorker.Stop();
}

void CTimerEventEngine::Run(Closure* closure)
{
    Schedule(Duration::zero(), [closure] { closure->Run(); });
}

void CTimerEventEngine::Run(absl::AnyInvocable<void()> closure)
{
    Schedule(Duration::zero(), std::move(closure));
}

CTimerEventEngine::TaskHandle CTimerEventEngine::RunAfter(Duration when, Closure* closure)
{
    return Schedule(when, [closure] { closure->Run(); });
}

CTimerEventEngine::TaskHandle CTimerEventEngine::RunAfter(Duration when, absl::AnyInvocable<void()> closure)
{
    return Schedule(when, std::move(closure));
}

CTimerEventEngine::TaskHandle CTimerEventEngine::Schedule(Duration when, absl::AnyInvocable<void()> task)
{
    std::lock_guard lock(mMutex);
    const std::uint64_t id = mNextId++;
    mTasks.emplace(id, std::move(task));
    const auto due = mWorker.Clock().Now() + std::chrono::duration_cast<IClock::duration>(when);
    // The call is queued under mMutex, so Cancel finds it in mCalls.
    mCalls.emplace(id, mWorker.AddCall(
                           [this, id] {
                               auto run = Take(id);
                               if (run) {
                                   run();
                               }
                           },
                           due));
    return TaskHandle{{static_cast<intptr_t>(id), 0}};
}

absl::AnyInvocable<void()> CTimerEventEngine::Take(std::uint64_t id)
{
    std::lock_guard lock(mMutex);
    mCalls.erase(id);
    const auto it = mTasks.find(id);
    if (it == mTasks.end()) {
        return nullptr;
    }
    auto task = std::move(it->second);
    mTasks.erase(it);
    return task;
}

bool CTimerEventEngine::Cancel(TaskHandle handle)
{
    const auto id = static_cast<std::uint64_t>(handle.keys[0]);
    CWorker::CallHandle call;
    {
        std::lock_guard lock(mMutex);
        const auto it = mCalls.find(id);
        if (it != mCalls.end()) {
            call = it->second;
        }
    }
    if (call) {
        call->Cancel();
    }
    // Dropped here, at once: what the task holds may keep something else
    // from finishing.
    return static_cast<bool>(Take(id));
}

bool CTimerEventEngine::IsWorkerThread()
{
    return mWorker.IsThisThread();
}

absl::StatusOr<std::unique_ptr<CTimerEventEngine::Listener>> CTimerEventEngine::CreateListener(
    Listener::AcceptCallback, absl::AnyInvocable<void(absl::Status)>, const EndpointConfig&,
    std::unique_ptr<MemoryAllocatorFactory>)
{
    Log(ELevel::error, "The IPC event engine was asked for a listener, which it does not offer");
    return absl::UnimplementedError("listeners are not offered by this event engine");
}

CTimerEventEngine::ConnectionHandle CTimerEventEngine::Connect(OnConnectCallback on_connect, const ResolvedAddress&,
                                                               const EndpointConfig&, MemoryAllocator, Duration)
{
    Log(ELevel::error, "The IPC event engine was asked for a connection, which it does not offer");
    // The callback must run once, and not inline.
    Run([callback = std::move(on_connect)]() mutable {
        callback(absl::UnimplementedError("connections are not offered by this event engine"));
    });
    return ConnectionHandle{{0, 0}};
}

bool CTimerEventEngine::CancelConnect(ConnectionHandle)
{
    return false;
}

std::unique_ptr<CTimerEventEngine::DNSResolver> CTimerEventEngine::GetDNSResolver(const DNSResolver::ResolverOptions&)
{
    Log(ELevel::error, "The IPC event engine was asked for a name resolver, which it does not offer");
    return nullptr;
}

} // namespace IpcGrpc
