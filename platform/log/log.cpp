#include "platform/log/log.h"

#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/sinks/syslog_sink.h>

#include <cxxabi.h>
#include <syslog.h>

#include <cstdlib>
#include <mutex>

namespace Log {

std::shared_ptr<spdlog::sinks::sink> mSyslogSink;
std::shared_ptr<spdlog::sinks::sink> mConsoleSink;
std::atomic<bool> mConsoleLoggingEnabled{true};

namespace {

using Clock = std::chrono::steady_clock;

// Atomics, each its own guard: Write runs on every thread.
std::atomic<Clock::rep> gFlushIntervalTicks{
    std::chrono::duration_cast<Clock::duration>(kFlushInterval).count()};
std::atomic<Clock::rep> gLastFlushTicks{0};

struct SLoggerState {
    std::shared_ptr<spdlog::sinks::dist_sink_mt> dist;
    std::shared_ptr<spdlog::logger> logger;
};

// The logger exists from the first log statement on, so code that runs
// before Init (static construction, tests) still logs to the console.
SLoggerState& State()
{
    static SLoggerState state = [] {
        SLoggerState s;
        s.dist = std::make_shared<spdlog::sinks::dist_sink_mt>();
        auto console = std::make_shared<spdlog::sinks::stdout_sink_mt>();
        console->set_pattern("%Y-%m-%d %H:%M:%S.%e [%l] %v");
        mConsoleSink = console;
        s.dist->add_sink(console);
        s.logger = std::make_shared<spdlog::logger>("Tarv", s.dist);
        s.logger->set_level(spdlog::level::info);
        // Flushing is FlushIfDue's: warnings and above at once, the rest
        // at most every flush interval.
        s.logger->flush_on(spdlog::level::off);
        return s;
    }();
    return state;
}

} // namespace

spdlog::logger& Logger()
{
    return *State().logger;
}

void SetFlushInterval(std::chrono::milliseconds interval)
{
    gFlushIntervalTicks = std::chrono::duration_cast<Clock::duration>(interval).count();
}

void FlushIfDue(ELogLevel level)
{
    const Clock::rep now = Clock::now().time_since_epoch().count();
    Clock::rep last = gLastFlushTicks.load();
    if (level < warning && now - last < gFlushIntervalTicks.load()) {
        return;
    }
    // One thread flushes for a due interval; a warning always flushes.
    if (level >= warning || gLastFlushTicks.compare_exchange_strong(last, now)) {
        gLastFlushTicks = now;
        Logger().flush();
    }
}

void Init(const std::string& name, ELogLevel level)
{
    auto& state = State();
    static std::once_flag syslogOnce;
    std::call_once(syslogOnce, [&] {
        // The syslog sink keeps the ident pointer; the string lives as long as the process.
        static const std::string ident = name;
        auto syslog = std::make_shared<spdlog::sinks::syslog_sink_mt>(ident, LOG_PID, LOG_DAEMON, false);
        syslog->set_pattern("%v");
        mSyslogSink = syslog;
        state.dist->add_sink(syslog);
    });
    SetLogLevel(level);
}

void SetLogLevel(ELogLevel level)
{
    Logger().set_level(static_cast<spdlog::level::level_enum>(level));
}

ELogLevel GetLogLevel()
{
    return static_cast<ELogLevel>(Logger().level());
}

ELogLevel GetLowerLogLevel(ELogLevel level)
{
    return level <= trace ? trace : static_cast<ELogLevel>(level - 1);
}

void EnableConsoleLogging(bool enable)
{
    State();
    mConsoleLoggingEnabled = enable;
    mConsoleSink->set_level(enable ? spdlog::level::trace : spdlog::level::off);
}

void AddSink(const std::shared_ptr<spdlog::sinks::sink>& sink)
{
    State().dist->add_sink(sink);
}

void RemoveSink(const std::shared_ptr<spdlog::sinks::sink>& sink)
{
    State().dist->remove_sink(sink);
}

std::string Demangle(const char* mangledName)
{
    if (mangledName == nullptr) {
        return {};
    }
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangledName, nullptr, nullptr, &status),
                                                     std::free);
    if (status != 0 || !demangled) {
        return {};
    }
    return demangled.get();
}

const char* LevelName(ELogLevel level)
{
    switch (level) {
    case trace: return "trace";
    case debug: return "debug";
    case info: return "info";
    case warning: return "warning";
    case error: return "error";
    case critical: return "critical";
    }
    return "unknown";
}

bool ParseLevel(const std::string& text, ELogLevel& level)
{
    for (int l = trace; l <= critical; ++l) {
        if (text == LevelName(static_cast<ELogLevel>(l))) {
            level = static_cast<ELogLevel>(l);
            return true;
        }
    }
    return false;
}

} // namespace Log
