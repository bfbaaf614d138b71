#include "src/qelogger.h"

#include "platform/log/log.h"

namespace Rpc {

void QeLogger::Critical(const std::string& message) { TLOG_CRITICAL("[RPC] {}", message); }
void QeLogger::Error(const std::string& message) { TLOG_ERROR("[RPC] {}", message); }
void QeLogger::Warning(const std::string& message) { TLOG_WARN("[RPC] {}", message); }
void QeLogger::Info(const std::string& message) { TLOG_INFO("[RPC] {}", message); }
void QeLogger::Debug(const std::string& message) { TLOG_DEBUG("[RPC] {}", message); }
void QeLogger::Trace(const std::string& message) { TLOG_TRACE("[RPC] {}", message); }

} // namespace Rpc
