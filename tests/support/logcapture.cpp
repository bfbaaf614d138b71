#include "tests/support/logcapture.h"

#include <algorithm>
#include <utility>

namespace TestSupport {

class CLogCapture::CSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    // The lines so far; with clear, forgets them.
    std::vector<SLogLine> Take(bool clear)
    {
        std::lock_guard lock(mutex_);
        return clear ? std::exchange(mLines, {}) : mLines;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override
    {
        std::string raw(msg.payload.data(), msg.payload.size());
        // Lines start with "(path:line) " where the logging statement is.
        const auto close = raw.rfind('(', 0) == 0 ? raw.find(") ") : std::string::npos;
        mLines.push_back({static_cast<Log::ELogLevel>(msg.level), close == raw.npos ? raw : raw.substr(close + 2), raw});
    }
    void flush_() override {}

private:
    std::vector<SLogLine> mLines; // guarded by the base sink's mutex_
};

CLogCapture::CLogCapture(Log::ELogLevel level) : mSink(std::make_shared<CSink>()), mPreviousLevel(Log::GetLogLevel())
{
    Log::SetLogLevel(level);
    Log::AddSink(mSink);
}

CLogCapture::~CLogCapture()
{
    Log::RemoveSink(mSink);
    Log::SetLogLevel(mPreviousLevel);
}

std::vector<SLogLine> CLogCapture::Lines() const
{
    return mSink->Take(false);
}

std::vector<std::string> CLogCapture::Texts(std::optional<Log::ELogLevel> level) const
{
    std::vector<std::string> out;
    for (const auto& l : Lines()) {
        if (!level || l.level == *level) {
            out.push_back(l.text);
        }
    }
    return out;
}

bool CLogCapture::Contains(Log::ELogLevel level, const std::string& text) const
{
    return std::ranges::count(Texts(level), text) > 0;
}

bool CLogCapture::ContainsSubstring(const std::string& part) const
{
    return std::ranges::any_of(Lines(), [&](const SLogLine& l) { return l.raw.find(part) != l.raw.npos; });
}

std::size_t CLogCapture::Count(const std::string& text) const
{
    return static_cast<std::size_t>(std::ranges::count(Texts(), text));
}

void CLogCapture::Clear()
{
    mSink->Take(true);
}

} // namespace TestSupport
