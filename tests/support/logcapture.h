#pragma once
// Collects the log lines written while it lives, at trace level, so tests
// can check exact texts. Lines are stored without the "(file:line) " prefix;
// SLogLine::raw keeps it.

#include "platform/log/log.h"

#include <spdlog/sinks/base_sink.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

struct SLogLine {
    Log::ELogLevel level;
    std::string text;    // message without the position prefix
    std::string raw;     // message as written
};

class CLogCapture {
public:
    explicit CLogCapture(Log::ELogLevel level = Log::trace);
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    std::vector<SLogLine> Lines() const;
    // Message texts only, in order.
    std::vector<std::string> Texts(std::optional<Log::ELogLevel> level = std::nullopt) const;
    bool Contains(const std::string& text) const { return Count(text) > 0; } // exact text
    bool Contains(Log::ELogLevel level, const std::string& text) const; // exact text at level
    bool ContainsSubstring(const std::string& part) const;
    std::size_t Count(const std::string& text) const;
    void Clear();

private:
    class CSink;
    std::shared_ptr<CSink> mSink;
    Log::ELogLevel mPreviousLevel;
};

} // namespace TestSupport
