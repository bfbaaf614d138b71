#include "platform/config/configfilewriter.h"
#include "platform/config/configsource.h"
#include "platform/config/qeconfig.h"
#include "tests/support/recorder.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

using SCall = std::pair<std::string, Json::Value>;

// Records listener calls and lets the test wait for them (inotify delivery
// normally takes a few milliseconds).
class CRecorder : public TestSupport::CRecorder<SCall> {
public:
    QeConfig::ChangeCallback Callback()
    {
        return [this](const std::string& key, const Json::Value& value) { Add({key, value}); };
    }
    // Waits (bounded) until a call for key arrived; returns every call so far.
    std::vector<SCall> WaitForKey(const std::string& key)
    {
        WaitUntil([&](const std::vector<SCall>& calls) { return std::ranges::count(calls, key, &SCall::first) > 0; });
        return Values();
    }
};

Json::Value Object(std::initializer_list<std::pair<const char*, Json::Value>> members)
{
    Json::Value object(Json::objectValue);
    for (const auto& [key, value] : members) {
        object[key] = value;
    }
    return object;
}

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(ConfigDir()); }

    std::string ConfigDir() const { return mDir.Path() + "/etc/config"; }
    std::string PathOf(const std::string& source) const { return ConfigDir() + "/" + source + ".json"; }
    void Write(const std::string& source, const Json::Value& object) const
    {
        ASSERT_TRUE(CConfigFileWriter::Write(PathOf(source), object));
    }
    // Writes in place (truncate and write), as a careless writer would.
    void WriteInPlace(const std::string& source, const std::string& text) const
    {
        mDir.WriteFile("etc/config/" + source + ".json", text);
    }

    TestSupport::CTempRoot mDir;
};

TEST_F(ConfigTest, AGarbledFileRaisesAndIsReportedOncePerSettledContent)
{
    // A source over a file garbled from the start; error messages are recorded as keys.
    WriteInPlace("settings", "{\"InstallationComplete\": tru");
    CRecorder errors, recorder;
    auto config = std::make_shared<CConfigSource>(
        "settings", [record = errors.Callback()](const std::string& message) { record(message, {}); }, false, 20ms);
    config->RegisterListener("", "", recorder.Callback());
    EXPECT_EQ(errors.Take().size(), 1u);
    EXPECT_THROW(config->GetString("Other", ""), QeConfig::CInvalidConfig);
    EXPECT_THROW(config->SetValue("Other", "x"), QeConfig::CInvalidConfig);
    EXPECT_EQ(mDir.ReadFile("etc/config/settings.json"), "{\"InstallationComplete\": tru"); // not overwritten
    // Repaired: reads work and the listener hears of the key.
    Write("settings", Object({{"InstallationComplete", true}}));
    EXPECT_EQ(recorder.WaitForKey("InstallationComplete"), (std::vector<SCall>{{"InstallationComplete", true}}));
    EXPECT_TRUE(config->GetBool("InstallationComplete", false));

    // Broken again, differently: a second report once it settled.
    WriteInPlace("settings", "[true]");
    const std::string message = "Invalid config file " + PathOf("settings") + ": the content is a JSON array, not an object";
    EXPECT_EQ(errors.WaitForKey(message).size(), 1u);
    EXPECT_THROW(config->GetBool("InstallationComplete", false), QeConfig::CInvalidConfig);
}

TEST_F(ConfigTest, TornWriteIsNoErrorWhileTheWriterCompletesIt)
{
    Write("settings", Object({{"InstallationComplete", false}}));
    std::atomic<int> errors{0};
    CRecorder recorder;
    // A settle time far longer than the test: only a fault reports the torn state.
    auto config = std::make_shared<CConfigSource>("settings", [&](const std::string&) { ++errors; }, false, 1h);
    config->RegisterListener("", "", recorder.Callback());
    // The writer truncates, pauses (the watcher sees the empty file), then completes.
    WriteInPlace("settings", "");
    QeConfig::SyncChanges();
    EXPECT_FALSE(config->GetBool("InstallationComplete", true)); // the last good content
    mDir.WriteFile("etc/config/settings.json", R"({"InstallationComplete": true})");
    EXPECT_EQ(recorder.WaitForKey("InstallationComplete"), (std::vector<SCall>{{"InstallationComplete", true}}));
    EXPECT_TRUE(config->GetBool("InstallationComplete", false));
    EXPECT_EQ(errors, 0);
}

TEST_F(ConfigTest, ListenersHearEachChangedKeyOnceAndMayUseTheConfig)
{
    Write("network", Object({{"Same", true}, {"Changed", "a"}, {"Removed", "x"}}));
    std::vector<std::string> seenInCallback; // outlives the sources
    CRecorder recorder, filtered, dropped;
    auto config = QeConfig::Create("network");
    const auto record = recorder.Callback();
    config->RegisterListener("dropped", "", dropped.Callback());
    config->RegisterListener("test", "", [&](const std::string& key, const Json::Value& value) {
        if (key == "Changed") {
            seenInCallback.push_back(config->GetString("Changed", ""));
        }
        // Registrations and unregistrations from inside a callback.
        config->RegisterListener("late", "", [](const std::string&, const Json::Value&) {});
        config->UnregisterListener("dropped");
        config->UnregisterListener("late");
        record(key, value);
    });
    config->RegisterListener("filtered", "Ch", filtered.Callback());

    Write("network", Object({{"Same", true}, {"Changed", "b"}, {"Added", false}}));
    const std::vector<SCall> expected{{"Added", false}, {"Changed", "b"}, {"Removed", Json::Value()}};
    EXPECT_EQ(recorder.WaitForKey("Removed"), expected);
    EXPECT_EQ(seenInCallback, std::vector<std::string>{"b"});
    recorder.Take();
    // An in-place write is noticed too, and the first change is not reported again.
    WriteInPlace("network", R"({"Same": true, "Changed": "b", "Added": false, "Sentinel": "s"})");
    EXPECT_EQ(recorder.WaitForKey("Sentinel"), (std::vector<SCall>{{"Sentinel", "s"}}));
    EXPECT_EQ(filtered.Take(), (std::vector<SCall>{{"Changed", "b"}}));
    // "dropped" may have heard the first change (it ran before "test"), never the second.
    EXPECT_EQ(std::ranges::count(dropped.Take(), "Sentinel", &SCall::first), 0);
    config->UnregisterListener("unknown");
}

// Whatever takes a source's place, at start or while in use (noticed when it
// is made, or when the file vanishes), is an error naming the file, never an
// empty source of defaults; only a file missing at start is one.
TEST_F(ConfigTest, BrokenSourcesAreErrorsNamingTheFileAtStartAndAtRunTime)
{
    const std::string path = PathOf("network");
    const std::string deep = "{\"a\": " + std::string(5000, '[') + std::string(5000, ']') + "}";
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[&] { std::filesystem::remove(path); }, "Config file " + path + " is missing: it was removed while in use"},
        {[&] { WriteInPlace("network", deep); }, "Invalid config file " + path + ": Exceeded stackLimit in readValue()."},
        {[&] { ::mkfifo(path.c_str(), 0600); }, "Invalid config file " + path + ": it is a FIFO, not a regular file"},
        {[&] { std::filesystem::create_directory_symlink(ConfigDir(), path); },
         "Invalid config file " + path + ": it is a directory, not a regular file"},
    };
    for (const auto& [make, error] : cases) {
        SCOPED_TRACE(error);
        const bool removal = &make == &cases[0].first;
        if (removal) {
            Write("network", Object({{"TarvWlanEnable", true}}));
        }
        CRecorder errors, recorder; // error messages recorded as keys
        auto config = std::make_shared<CConfigSource>(
            "network", [record = errors.Callback()](const std::string& message) { record(message, {}); }, false, 20ms);
        config->RegisterListener("", "", recorder.Callback());
        make();
        EXPECT_EQ(std::ranges::count(errors.WaitForKey(error), error, &SCall::first), 1);
        EXPECT_THROW(config->GetBool("TarvWlanEnable", false), QeConfig::CInvalidConfig);
        EXPECT_EQ(recorder.Take(), std::vector<SCall>{}); // no key reported as removed
        config.reset();
        std::vector<std::string> atStart;
        CConfigSource again("network", [&](const std::string& message) { atStart.push_back(message); }, true, 1ms);
        EXPECT_EQ(atStart, removal ? std::vector<std::string>{} : std::vector<std::string>{error});
        // Missing at start: an empty source (the default); anything else: reads throw.
        if (removal) {
            EXPECT_TRUE(again.GetBool("TarvWlanEnable", true));
        } else {
            EXPECT_THROW(again.GetBool("TarvWlanEnable", true), QeConfig::CInvalidConfig);
        }
        std::filesystem::remove_all(path);
    }
}

TEST_F(ConfigTest, TypedReadsWriterSetValueAndADirectoryCreatedLater)
{
    QeConfig::SyncChanges(); // no source: nothing to wait for
    EXPECT_TRUE(QeConfig::Create("settings")->GetBool("Missing", true));
    Write("network", Object({{"Flag", true}, {"Name", "eth0"}, {"Null", Json::Value()}}));
    auto network = QeConfig::Create("network");
    EXPECT_EQ(network->GetString("Null", "dflt"), "dflt");
    EXPECT_THROW(network->GetBool("Name", false), QeConfig::CTypeError);
    EXPECT_THROW(network->GetString("Flag", ""), QeConfig::CTypeError);
    EXPECT_THROW(QeConfig::Create("../passwd"), std::invalid_argument);
    EXPECT_THROW(QeConfig::CreateReadOnly("hwinfo", {}, false), std::invalid_argument);
    EXPECT_THROW(CConfigSource("hwinfo", {}, true).SetValue("HwHasLte", true), std::logic_error);

    // The writer stores objects only and creates files for its group.
    EXPECT_FALSE(CConfigFileWriter::Write(PathOf("secrets"), Json::Value(Json::arrayValue)));
    Write("secrets", Object({{"Keep", "k"}, {"Pass", "p\"w\nd"}}));
    EXPECT_EQ(CConfigSource("secrets", {}, true).GetString("Pass", ""), "p\"w\nd");
    EXPECT_EQ(std::filesystem::status(PathOf("secrets")).permissions(), std::filesystem::perms(0640));

    CRecorder other;
    auto config = QeConfig::Create("secrets");
    auto otherConfig = QeConfig::Create("secrets", {}, other.Callback());
    config->SetValue("TarvLteApn", "internet");
    EXPECT_EQ(config->GetString("TarvLteApn", ""), "internet"); // at once, before any event
    // The secrets file was 0640.
    EXPECT_EQ(std::filesystem::status(PathOf("secrets")).permissions(), std::filesystem::perms(0600));
    EXPECT_EQ(other.WaitForKey("TarvLteApn"), (std::vector<SCall>{{"TarvLteApn", "internet"}}));
    EXPECT_EQ(otherConfig->GetString("Keep", ""), "k");

    // An unchanged value leaves the file alone.
    struct stat before {}, after {};
    ASSERT_EQ(::stat(PathOf("secrets").c_str(), &before), 0);
    config->SetValue("TarvLteApn", "internet");
    ASSERT_EQ(::stat(PathOf("secrets").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    config->SetValue("TarvLteApn", Json::Value());
    EXPECT_EQ(config->GetString("TarvLteApn", "none"), "none");
    EXPECT_THROW(config->SetValue("Number", 3), QeConfig::CTypeError);

    // A directory created later is watched from then.
    std::filesystem::remove_all(ConfigDir());
    CRecorder recorder;
    auto later = QeConfig::Create("network", {}, recorder.Callback());
    std::filesystem::create_directories(ConfigDir());
    Write("network", Object({{"TarvWlanEnable", true}}));
    QeConfig::SyncChanges(); // checks the polled file at once
    EXPECT_EQ(recorder.Take(), (std::vector<SCall>{{"TarvWlanEnable", true}}));
    // From now on through inotify.
    Write("network", Object({{"TarvWlanEnable", true}, {"Sentinel", "s"}}));
    EXPECT_EQ(recorder.WaitForKey("Sentinel"), (std::vector<SCall>{{"Sentinel", "s"}}));
}

// Each write raises an event whose re-read the watcher may still be applying
// when the next write lands: a read begun before a write must never put the
// older file back into the cache, and listeners still hear the last value.
TEST_F(ConfigTest, AWriteIsReadBackAtOnceWhileTheWatcherRereadsEarlierWrites)
{
    CRecorder recorder;
    auto config = std::make_shared<CConfigSource>("settings", nullptr, false, 20ms); // one file: one order
    config->RegisterListener("", "", recorder.Callback());
    for (int i = 0; i < 300; ++i) {
        const std::string value = "v" + std::to_string(i);
        config->SetValue("TarvLteApn", value);
        ASSERT_EQ(config->GetString("TarvLteApn", ""), value);
    }
    config->SetValue("Sentinel", "s");
    const auto calls = recorder.WaitForKey("Sentinel");
    const auto last = std::ranges::find(calls.rbegin(), calls.rend(), "TarvLteApn", &SCall::first);
    ASSERT_NE(last, calls.rend());
    EXPECT_EQ(last->second, "v299");
    EXPECT_EQ(config->GetString("TarvLteApn", ""), "v299");
}

// Readers never see a partial file while another process replaces it, and
// sources come and go while their file changes.
TEST_F(ConfigTest, ConcurrentReadersWhileTheFileIsReplaced)
{
    Write("network", Object({{"Value", "v0"}}));
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    CRecorder recorder;
    auto config = QeConfig::Create("network", {}, recorder.Callback());
    std::vector<std::jthread> threads;
    for (int r = 0; r < 3; ++r) {
        threads.emplace_back([&] {
            while (!stop) {
                const std::string value = config->GetString("Value", "");
                failures += value.size() < 2 || (value[0] != 'v' && value != "done") ? 1 : 0;
            }
        });
    }
    threads.emplace_back([&] {
        // Short-lived sources: none may hear a change after it is gone.
        while (!stop) {
            auto alive = std::make_shared<std::atomic<bool>>(true);
            auto shortLived = QeConfig::Create(
                "network", {}, [alive, &failures](const std::string&, const Json::Value&) { failures += *alive ? 0 : 1; });
            shortLived.reset();
            *alive = false;
        }
    });
    for (int i = 1; i <= 150; ++i) {
        Write("network", Object({{"Value", "v" + std::to_string(i)}}));
    }
    Write("network", Object({{"Value", "done"}}));
    QeConfig::SyncChanges();
    stop = true;
    threads.clear(); // joins them
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(config->GetString("Value", ""), "done");
}

} // namespace
