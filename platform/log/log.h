#pragma once
// Process-wide logging: one spdlog logger named after the daemon, writing to
// the system log and, while console logging is enabled, to standard output.
//
// Use the TLOG_* macros: each message starts with "(path/in/repo.cpp:LINE) ",
// built at compile time, and the format string is checked at compile time.

#include <spdlog/common.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/sink.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

namespace Rpc {
class ILogConfig;
}

namespace Log {

enum ELogLevel : int { trace = 0, debug = 1, info = 2, warning = 3, error = 4, critical = 5 };

// Sinks of the process logger; created on first use of the logger.
extern std::shared_ptr<spdlog::sinks::sink> mSyslogSink;
extern std::shared_ptr<spdlog::sinks::sink> mConsoleSink;
extern std::atomic<bool> mConsoleLoggingEnabled;

// Names the logger, opens the system log under that name and sets the level.
void Init(const std::string& name, ELogLevel level);
void SetLogLevel(ELogLevel level);
ELogLevel GetLogLevel();
// The next more verbose level; trace stays trace.
ELogLevel GetLowerLogLevel(ELogLevel level);
void EnableConsoleLogging(bool enable);

// Sinks are flushed after every line at warning or above, and after any
// line once kFlushInterval has passed since the last flush, so a quiet
// daemon costs no flushing and adds no flushing thread. (The system log
// sink does not buffer; the flushing matters for the console sink.)
inline constexpr std::chrono::milliseconds kFlushInterval{2000};
void SetFlushInterval(std::chrono::milliseconds interval);
// Called by Write after each line.
void FlushIfDue(ELogLevel level);

// Extra sinks (tests capture log lines through this); safe from any thread.
void AddSink(const std::shared_ptr<spdlog::sinks::sink>& sink);
void RemoveSink(const std::shared_ptr<spdlog::sinks::sink>& sink);

// Demangled form of a type name as std::type_info::name() spells it;
// empty when the name cannot be demangled.
std::string Demangle(const char* mangledName);

// Class name for the "{}::{}" trace line, demangled once per class.
template <typename T>
const std::string& ClassName()
{
    static const std::string name = Demangle(typeid(T).name());
    return name;
}

// Text name of a level ("trace" .. "critical"); parses the same names back.
const char* LevelName(ELogLevel level);
bool ParseLevel(const std::string& text, ELogLevel& level);

// The log-configuration service the IPC host offers as "TarvLog".
std::shared_ptr<Rpc::ILogConfig> CreateLogConfigService();

spdlog::logger& Logger();

template <typename... Args>
inline void Write(ELogLevel level, spdlog::format_string_t<Args...> fmt, Args&&... args)
{
    spdlog::logger& logger = Logger();
    if (!logger.should_log(static_cast<spdlog::level::level_enum>(level))) {
        return;
    }
    logger.log(static_cast<spdlog::level::level_enum>(level), fmt, std::forward<Args>(args)...);
    FlushIfDue(level);
}

} // namespace Log

#define TARV_LOG_STR2(x) #x
#define TARV_LOG_STR(x) TARV_LOG_STR2(x)
#define TARV_LOG_PREFIX "(" __FILE__ ":" TARV_LOG_STR(__LINE__) ") "

#define TLOG(level, fmt, ...) ::Log::Write(level, TARV_LOG_PREFIX fmt __VA_OPT__(, ) __VA_ARGS__)
#define TLOG_TRACE(fmt, ...) TLOG(::Log::trace, fmt __VA_OPT__(, ) __VA_ARGS__)
#define TLOG_DEBUG(fmt, ...) TLOG(::Log::debug, fmt __VA_OPT__(, ) __VA_ARGS__)
#define TLOG_INFO(fmt, ...) TLOG(::Log::info, fmt __VA_OPT__(, ) __VA_ARGS__)
#define TLOG_WARN(fmt, ...) TLOG(::Log::warning, fmt __VA_OPT__(, ) __VA_ARGS__)
#define TLOG_ERROR(fmt, ...) TLOG(::Log::error, fmt __VA_OPT__(, ) __VA_ARGS__)
#define TLOG_CRITICAL(fmt, ...) TLOG(::Log::critical, fmt __VA_OPT__(, ) __VA_ARGS__)

// The "{}::{}" trace line of a member function: class name and operation name.
#define TLOG_FUNCTION() \
    TLOG_TRACE("{}::{}", ::Log::ClassName<std::remove_cvref_t<decltype(*this)>>(), __func__)
// Same for a free function or a lambda: the class name is given.
#define TLOG_FUNCTION_OF(Class) TLOG_TRACE("{}::{}", ::Log::ClassName<Class>(), __func__)
