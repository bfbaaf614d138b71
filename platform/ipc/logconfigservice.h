#pragma once
// The log configuration of this process as an IPC service: reads and sets
// the process log level.

#include "platform/ipc/ilogconfig.h"

class CLogConfigService final : public Rpc::ILogConfig {
public:
    int GetLogLevel() override;
    bool SetLogLevel(int level) override;
};
