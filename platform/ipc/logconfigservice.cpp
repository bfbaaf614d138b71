#include "platform/ipc/logconfigservice.h"

#include "platform/log/log.h"

#include <memory>

int CLogConfigService::GetLogLevel()
{
    return static_cast<int>(Log::GetLogLevel());
}

bool CLogConfigService::SetLogLevel(int level)
{
    if (level < Log::trace || level > Log::critical) {
        TLOG_WARN("Refusing log level {}: levels range from {} to {}", level, static_cast<int>(Log::trace),
                  static_cast<int>(Log::critical));
        return false;
    }
    const auto newLevel = static_cast<Log::ELogLevel>(level);
    TLOG_INFO("Log level set to {}", Log::LevelName(newLevel));
    Log::SetLogLevel(newLevel);
    return true;
}

std::shared_ptr<Rpc::ILogConfig> Log::CreateLogConfigService()
{
    return std::make_shared<CLogConfigService>();
}
