#pragma once
// Log configuration of a process: read and change its log level. Levels are
// numbered as the logging library numbers them (0 trace .. 5 critical).

namespace Rpc {

class ILogConfig {
public:
    virtual ~ILogConfig() = default;
    virtual int GetLogLevel() = 0;
    // False when the level is out of range; the level is then unchanged.
    virtual bool SetLogLevel(int level) = 0;
};

} // namespace Rpc
