#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <spdlog/sinks/base_sink.h>

#include <chrono>
#include <memory>
#include <mutex>

#include <sstream>

namespace tarv::test {

class CSomeComponent {};

TEST(Log, EveryLineStartsWithTheRepositoryRelativePositionOfItsStatement)
{
    TestSupport::CLogCapture capture;
    const int line = __LINE__ + 1;
    TLOG_INFO("value {} and {}", 42, "text");
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].raw, "(tests/platform/log/log_test.cpp:" + std::to_string(line) + ") value 42 and text");
    EXPECT_EQ(lines[0].level, Log::info);
}

TEST(Log, LevelsFilter)
{
    EXPECT_EQ(Log::GetLowerLogLevel(Log::info), Log::debug);
    EXPECT_EQ(Log::GetLowerLogLevel(Log::trace), Log::trace);
    TestSupport::CLogCapture capture(Log::warning);
    TLOG_INFO("hidden");
    TLOG_WARN("shown");
    TLOG_CRITICAL("also shown");
    EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"shown", "also shown"}));
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
    struct SStep {
        std::chrono::milliseconds interval;
        Log::ELogLevel level;
        int flushes; // so far
    };
    // An hour-long interval never passes during the test; a zero one always has.
    const std::vector<SStep> steps = {
        {std::chrono::hours(1), Log::trace, 0}, {std::chrono::hours(1), Log::info, 0},
        {std::chrono::hours(1), Log::warning, 1}, {std::chrono::hours(1), Log::error, 2},
        {std::chrono::hours(1), Log::debug, 2}, {std::chrono::milliseconds(0), Log::debug, 3},
    };
    Log::SetFlushInterval(std::chrono::hours(1));
    TLOG_WARN("start counting from a fresh flush");
    const int base = counter->Flushes();
    for (const auto& step : steps) {
        Log::SetFlushInterval(step.interval);
        TLOG(step.level, "line");
        EXPECT_EQ(counter->Flushes() - base, step.flushes) << step.level;
    }
    Log::SetFlushInterval(Log::kFlushInterval);
    Log::RemoveSink(counter);
}

TEST(Log, ConsoleSinkIsSilencedWhileOtherSinksStillReceive)
{
    TestSupport::CLogCapture capture(Log::info);
    Log::EnableConsoleLogging(false);
    EXPECT_FALSE(Log::mConsoleLoggingEnabled);
    EXPECT_FALSE(Log::mConsoleSink->should_log(spdlog::level::critical));
    TLOG_INFO("still captured");
    Log::EnableConsoleLogging(true);
    EXPECT_TRUE(Log::mConsoleSink->should_log(spdlog::level::trace));
    EXPECT_TRUE(capture.Contains("still captured"));
}

TEST(Log, DemangleGivesReadableNamesAndEmptyForGarbage)
{
    EXPECT_EQ(Log::Demangle(typeid(CSomeComponent).name()), "tarv::test::CSomeComponent");
    EXPECT_EQ(Log::Demangle("not a mangled name"), "");
    EXPECT_EQ(Log::Demangle(nullptr), "");
}

TEST(RootDir, ResolvesDocumentedPathsByPlainConcatenation)
{
    CRootDir::Set("/");
    EXPECT_EQ(CRootDir::Resolve("/etc/network/interfaces"), "/etc/network/interfaces");
    CRootDir::Set("/tmp/station/");
    EXPECT_EQ(CRootDir::Resolve("/etc/hosts"), "/tmp/station/etc/hosts");
    // A root without its trailing slash runs into the path, as everywhere else.
    CRootDir::Set("/tmp/station");
    EXPECT_EQ(CRootDir::Resolve("/etc/hosts"), "/tmp/stationetc/hosts");
    CRootDir::Set("/");
}

} // namespace tarv::test
