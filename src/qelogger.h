#pragma once
// Writes the IPC library's messages into the daemon's log as "[RPC] {}".

#include "platform/ipc/ilogger.h"

namespace Rpc {

class QeLogger : public ILogger {
public:
    void Critical(const std::string& message) override;
    void Error(const std::string& message) override;
    void Warning(const std::string& message) override;
    void Info(const std::string& message) override;
    void Debug(const std::string& message) override;
    void Trace(const std::string& message) override;
};

} // namespace Rpc
