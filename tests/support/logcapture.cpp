#include "tests/support/logcapture.h"

#include <algorithm>

namespace TestSupport {

class CLogCapture::CSink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<SLogLine> Snapshot()
    {
        std::lock_guard lock(mutex_);
        return mLines;
    }
    void Clear()
    {
        std::lock_guard lock(mutex_);
        mLines.clear();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override
    {
        std::string raw(msg.payload.data(), msg.payload.size());
        // Lines start with "(path:line) " where the logging statement is.
        const auto close = raw.find(") ");
        const bool positioned = !raw.empty() && raw.front() == '(' && close != std::string::npos;
        mLines.push_back({static_cast<Log::ELogLevel>(msg.level), positioned ? raw.substr(close + 2) : raw, raw});
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
    return mSink->Snapshot();
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

bool CLogCapture::Contains(const std::string& text) const
{
    return Count(text) > 0;
}

bool CLogCapture::Contains(Log::ELogLevel level, const std::string& text) const
{
    const auto texts = Texts(level);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool CLogCapture::ContainsSubstring(const std::string& part) const
{
    const auto lines = Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const SLogLine& l) { return l.raw.find(part) != l.raw.npos; });
}

std::size_t CLogCapture::Count(const std::string& text) const
{
    const auto texts = Texts();
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

void CLogCapture::Clear()
{
    mSink->Clear();
}

} // namespace TestSupport
