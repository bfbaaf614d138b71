#pragma once
// Logging of the gRPC transport: every message goes through the logger the
// process installed with GrpcBackend::SetLogger (none: silent).

#include "platform/ipc/ilogger.h"

#include <fmt/format.h>

#include <memory>
#include <string>
#include <utility>

namespace IpcGrpc {

enum class ELevel { critical, error, warning, info, debug, trace };

void SetLogger(std::shared_ptr<Rpc::ILogger> logger);
std::shared_ptr<Rpc::ILogger> GetLogger();
void Write(ELevel level, const std::string& text);

template <typename... Args>
void Log(ELevel level, fmt::format_string<Args...> format, Args&&... args)
{
    Write(level, fmt::format(format, std::forward<Args>(args)...));
}

// Routes gRPC's own messages to the logger and initialises the library once
// for the life of the process: when the last host goes away and another one
// is created soon after, the library's shutdown in between races with the
// new host's first calls.
void InitializeGrpc();

} // namespace IpcGrpc
