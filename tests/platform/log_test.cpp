#include "platform/log/log.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <memory>
#include <mutex>

namespace {

TEST(Log, EveryLineStartsWithTheRelativePositionOfItsStatement)
{
    TestSupport::CLogCapture capture;
    const int line = __LINE__ + 1;
    TLOG_INFO("value {} and {}", 42, "text");
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].raw, "(tests/platform/log_test.cpp:" + std::to_string(line) + ") value 42 and text");
}

// Counts flushes.
class CFlushCounter : public spdlog::sinks::base_sink<std::mutex> {
public:
    int Flushes()
    {
        std::lock_guard lock(mutex_);
        return mFlushes;
    }

protected:
    void sink_it_(const spdlog::details::log_msg&) override {}
    void flush_() override { ++mFlushes; }

private:
    int mFlushes = 0; // guarded by the base sink's mutex_
};

TEST(Log, FlushesAtWarningsAndOncePerInterval)
{
    TestSupport::CLogCapture capture(Log::trace);
    auto counter = std::make_shared<CFlushCounter>();
    Log::AddSink(counter);
    // An hour-long interval never passes during the test; a zero one always has.
    Log::SetFlushInterval(std::chrono::hours(1));
    TLOG_WARN("start counting from a fresh flush");
    const int base = counter->Flushes();
    for (const Log::ELogLevel level : {Log::trace, Log::info, Log::debug, Log::warning, Log::error}) {
        TLOG(level, "line");
        EXPECT_EQ(counter->Flushes() - base, level >= Log::warning ? level - Log::warning + 1 : 0) << level;
    }
    Log::SetFlushInterval(std::chrono::milliseconds(0));
    TLOG_DEBUG("line");
    EXPECT_EQ(counter->Flushes() - base, 3);
    Log::SetFlushInterval(Log::kFlushInterval);
    Log::RemoveSink(counter);
}

TEST(Log, LevelsFilterAndTheConsoleIsSilencedAlone)
{
    TestSupport::CLogCapture warnings(Log::warning);
    Log::EnableConsoleLogging(false);
    EXPECT_FALSE(Log::mConsoleSink->should_log(spdlog::level::critical));
    TLOG_INFO("hidden");
    TLOG_CRITICAL("shown");
    Log::EnableConsoleLogging(true);
    EXPECT_EQ(warnings.Texts(), std::vector<std::string>{"shown"});
}

// Garbage type names give an empty name, never a crash.
TEST(Log, UnreadableTypeNamesDemangleToEmpty)
{
    EXPECT_EQ(Log::Demangle("not a mangled name"), "");
    EXPECT_EQ(Log::Demangle(nullptr), "");
}

} // namespace
