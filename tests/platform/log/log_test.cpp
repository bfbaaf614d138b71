#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <spdlog/sinks/ostream_sink.h>

#include <sstream>

namespace tarv::test {

class CSomeComponent {
public:
    void Operation() { TLOG_FUNCTION(); }
};

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

TEST(Log, FunctionTraceNamesTheDemangledClassAndOperation)
{
    TestSupport::CLogCapture capture;
    CSomeComponent().Operation();
    EXPECT_EQ(capture.Texts(), std::vector<std::string>{"tarv::test::CSomeComponent::Operation"});
    EXPECT_EQ(capture.Lines()[0].level, Log::trace);
}

TEST(Log, LevelsFilterAndLowerOneStepAtATime)
{
    EXPECT_EQ(Log::GetLowerLogLevel(Log::critical), Log::error);
    EXPECT_EQ(Log::GetLowerLogLevel(Log::info), Log::debug);
    EXPECT_EQ(Log::GetLowerLogLevel(Log::debug), Log::trace);
    EXPECT_EQ(Log::GetLowerLogLevel(Log::trace), Log::trace);

    TestSupport::CLogCapture capture(Log::warning);
    TLOG_INFO("hidden");
    TLOG_WARN("shown");
    TLOG_CRITICAL("also shown");
    EXPECT_EQ(capture.Texts(), (std::vector<std::string>{"shown", "also shown"}));
}

TEST(Log, LevelNamesRoundTrip)
{
    for (int l = Log::trace; l <= Log::critical; ++l) {
        Log::ELogLevel parsed = Log::info;
        ASSERT_TRUE(Log::ParseLevel(Log::LevelName(static_cast<Log::ELogLevel>(l)), parsed));
        EXPECT_EQ(parsed, l);
    }
    Log::ELogLevel untouched = Log::error;
    EXPECT_FALSE(Log::ParseLevel("verbose", untouched));
    EXPECT_EQ(untouched, Log::error);
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
    EXPECT_EQ(Log::Demangle(typeid(std::string).name()).rfind("std::", 0), 0u);
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
