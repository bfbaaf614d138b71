#include "platform/ipc/grpc/ipclog.h"

#include "platform/ipc/grpc/timereventengine.h"
#include "platform/toolbox/memorytrim.h"

#include <absl/synchronization/mutex.h>
#include <grpc/grpc.h>
#include <grpc/support/log.h>
#include <grpcpp/version_info.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace IpcGrpc {
namespace {

std::mutex gLoggerMutex;
std::shared_ptr<Rpc::ILogger> gLogger; // guarded by gLoggerMutex

// gRPC's messages go out one level lower than gRPC rates them: an absent
// peer is routine for this process, not an error.
void OnGrpcLog(gpr_log_func_args* args)
{
    const std::string text = std::string("grpc: ") + (args->message ? args->message : "");
    switch (args->severity) {
    case GPR_LOG_SEVERITY_ERROR: Write(ELevel::warning, text); break;
    case GPR_LOG_SEVERITY_INFO: Write(ELevel::debug, text); break;
    default: Write(ELevel::trace, text); break;
    }
}

} // namespace

void SetLogger(std::shared_ptr<Rpc::ILogger> logger)
{
    std::lock_guard lock(gLoggerMutex);
    gLogger = std::move(logger);
}

std::shared_ptr<Rpc::ILogger> GetLogger()
{
    std::lock_guard lock(gLoggerMutex);
    return gLogger;
}

void Write(ELevel level, const std::string& text)
{
    const std::shared_ptr<Rpc::ILogger> logger = GetLogger();
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

void InitializeGrpc()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // The backup poller of client channels wakes the process every few
        // seconds for nothing here: Unix sockets need no backup polling.
        // An explicit setting in the environment wins.
        setenv("GRPC_CLIENT_CHANNEL_BACKUP_POLL_INTERVAL_MS", "0", 0);
#if GRPC_CPP_VERSION_MAJOR == 1 && GRPC_CPP_VERSION_MINOR == 51
        // gRPC's own timers and deferred tasks on one thread that sleeps
        // until the next one is due (see CTimerEventEngine). Installed before
        // the library starts, so its default engine never runs. The hook is
        // still experimental in gRPC, and this engine offers only what this
        // version was seen to ask for: other versions keep the default one.
        grpc_event_engine::experimental::SetEventEngineFactory(
            [] { return std::make_unique<CTimerEventEngine>(); });
#endif
        // Request threads come and go, and a flood's messages come and go:
        // without bounds both leave freed memory behind for good.
        CMemoryTrim::BoundRetention();
        // The mutex library under gRPC may be built to check every lock for
        // order cycles: each lock then takes a global graph lock, the graph
        // keeps a node per mutex ever alive (megabytes after a flood of
        // connections, never given back), and a cycle it suspects aborts
        // the process. A daemon wants none of that.
        absl::SetMutexDeadlockDetectionMode(absl::OnDeadlockCycle::kIgnore);
        gpr_set_log_function(&OnGrpcLog);
        grpc_init();
    });
}

} // namespace IpcGrpc
