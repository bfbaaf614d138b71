#include "src/components/config/tarvconfig.h"

#include "platform/rootdir/rootdir.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <json/value.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <variant>

using TestSupport::CLogCapture;

namespace {

// A source held in memory. Notify plays the configuration library calling
// the listeners after another process changed a key.
class CFakeSource : public QeConfig::IConfig {
public:
    explicit CFakeSource(std::string name) : mName(std::move(name)) {}
    bool GetBool(const std::string& key, bool fallback) const override
    {
        return Get(key, &Json::Value::isBool, fallback).asBool();
    }
    std::string GetString(const std::string& key, const std::string& fallback) const override
    {
        return Get(key, &Json::Value::isString, fallback).asString();
    }
    const std::string& GetSource() const override { return mName; }
    bool HasFile() const override { return true; }
    void SetValue(const std::string& key, const Json::Value& value) override { mValues[key] = value; }
    void RegisterListener(const std::string& name, const std::string& filter, QeConfig::ChangeCallback callback) override
    {
        listeners[name + ":" + filter] = std::move(callback);
    }
    void UnregisterListener(const std::string& name) override { listeners.erase(name + ":"); }
    void Notify(const std::string& key)
    {
        for (const auto& [name, callback] : listeners) {
            callback(key, Json::Value("ignored"));
        }
    }

    bool unreadable = false;
    std::map<std::string, QeConfig::ChangeCallback> listeners; // "name:filter"

private:
    Json::Value Get(const std::string& key, bool (Json::Value::*is)() const, const Json::Value& fallback) const
    {
        if (unreadable) {
            throw QeConfig::CInvalidConfig(mName);
        }
        const Json::Value& value = mValues[key]; // null when missing
        if (!value.isNull() && !(value.*is)()) {
            throw QeConfig::CTypeError(key);
        }
        return value.isNull() ? fallback : value;
    }

    std::string mName;
    Json::Value mValues{Json::objectValue};
};

class TarvConfigTest : public ::testing::Test {
protected:
    std::shared_ptr<CFakeSource> mSettings = std::make_shared<CFakeSource>("settings");
    std::shared_ptr<CFakeSource> mHwinfo = std::make_shared<CFakeSource>("hwinfo");
    std::shared_ptr<CFakeSource> mSecrets = std::make_shared<CFakeSource>("secrets");
    std::shared_ptr<CFakeSource> mNetwork = std::make_shared<CFakeSource>("network");
    std::unique_ptr<CTarvConfig> mConfig = std::make_unique<CTarvConfig>(mSettings, mHwinfo, mSecrets, mNetwork);
};

} // namespace

TEST_F(TarvConfigTest, EveryKeyHasItsContractedNameSourceTypeAndDefault)
{
    // Other processes rely on these names, places and defaults: written out
    // here on their own, not taken from the product table.
    using Value = std::variant<bool, std::string>;
    // The key, its name (the key's own identifier), its source and default, in key order.
#define K(key, source, defaultValue) {key, #key, #source, defaultValue}
    const std::vector<std::tuple<EConfigKey, const char*, const char*, Value>> keys = {
        K(ProductSn, hwinfo, "00-00-000-000"), K(Hostname, hwinfo, ""), K(InstallationComplete, settings, false),
        K(HwHasEthernet, hwinfo, false), K(EthMacAddr, hwinfo, ""), K(TarvEthEnable, network, true),
        K(TarvEthDhcpEnable, network, true), K(TarvEthIpv4Addr, network, ""), K(TarvEthIpv4Netmask, network, ""),
        K(TarvEthGatewayAddr, network, ""), K(TarvDnsAuto, network, true), K(TarvPreferredDnsServerAddr, network, ""),
        K(TarvAlternativeDnsServerAddr, network, ""), K(HwHasWlan, hwinfo, false), K(WlanStaMacAddr, hwinfo, ""),
        K(WlanApMacAddr, hwinfo, ""), K(TarvWlanEnable, network, false), K(TarvSsid, network, ""),
        K(WlanStaPassword, secrets, ""), K(TarvWlanDhcpEnable, network, true), K(TarvWlanIpv4Addr, network, ""),
        K(TarvWlanIpv4Netmask, network, ""), K(TarvApEnable, network, true), K(WlanApPassword, secrets, ""),
        K(HwHasLte, hwinfo, false), K(TarvLteEnable, network, true), K(TarvLteNbIotEnable, network, false),
        K(TarvLteSimPin, secrets, "3185"), K(TarvLteApn, secrets, ""), K(TarvLteApnUser, secrets, ""),
        K(TarvLteApnPass, secrets, ""), K(TarvLteApnAuth, secrets, ""), K(TarvLteApnIp, secrets, ""),
        K(TarvSmsPassword, secrets, ""), K(HwHasPlc, hwinfo, false), K(PlcMacAddr, hwinfo, ""),
        K(TarvPlcEnable, network, false), K(NtpServer1, network, ""), K(NtpServer2, network, ""),
    };
#undef K
    ASSERT_EQ(keys.size(), CTarvConfig::KeyTable().size());
    CLogCapture log(Log::error);
    std::size_t index = 0;
    for (const auto& [key, name, ownSource, defaultValue] : keys) {
        SCOPED_TRACE(name);
        ASSERT_EQ(static_cast<std::size_t>(key), index++);
        const bool isBool = defaultValue.index() == 0;
        const auto read = [&] { return isBool ? Value(mConfig->GetBool(key)) : Value(mConfig->GetString(key)); };
        EXPECT_EQ(read(), defaultValue);
        // Every source holds the name; only the key's own source counts.
        for (const auto& source : {mSettings, mHwinfo, mSecrets, mNetwork}) {
            const bool own = source->GetSource() == ownSource;
            source->SetValue(name, isBool ? Json::Value(own != std::get<bool>(defaultValue))
                                          : Json::Value(own ? "set" : "other"));
        }
        EXPECT_EQ(read(), isBool ? Value(!std::get<bool>(defaultValue)) : Value("set"));
    }
    EXPECT_TRUE(log.Lines().empty());
}

// Keys of the other type or outside the table read as empty, with an error each.
TEST_F(TarvConfigTest, AKeyOfTheOtherTypeOrUnknownReadsAsEmpty)
{
    CLogCapture log(Log::error);
    EXPECT_EQ(mConfig->GetString(TarvEthEnable), "");
    EXPECT_FALSE(mConfig->GetBool(ProductSn));
    EXPECT_FALSE(mConfig->GetBool(static_cast<EConfigKey>(39)));
    EXPECT_EQ(mConfig->GetString(static_cast<EConfigKey>(-1)), "");
    EXPECT_EQ(log.Lines().size(), 4u);
    // Errors of the library reach the caller.
    mNetwork->SetValue("TarvEthEnable", Json::Value("yes"));
    EXPECT_THROW(mConfig->GetBool(TarvEthEnable), QeConfig::CTypeError);
    mSecrets->unreadable = true;
    EXPECT_THROW(mConfig->GetString(TarvLteApn), QeConfig::CInvalidConfig);
}

// Changes from every writable source are reported once, in key order: one
// thread per writable source plays another process changing it.
TEST_F(TarvConfigTest, ChangesOfEveryWritableSourceAreReportedOnce)
{
    const std::vector<std::pair<std::shared_ptr<CFakeSource>, std::vector<std::string>>> writers = {
        {mNetwork, {"NtpServer2", "TarvSsid", "TarvEthIpv4Addr", "NoSuchKey", "NtpServer1"}},
        {mSecrets, {"WlanStaPassword", "TarvLteApn"}},
        {mSettings, {"InstallationComplete"}},
    };
    EXPECT_TRUE(mHwinfo->listeners.empty());
    std::atomic<int> running{static_cast<int>(writers.size())};
    std::vector<std::thread> notifiers;
    for (const auto& [source, names] : writers) {
        notifiers.emplace_back([&, source = source.get(), names = &names] {
            for (std::size_t i = 0; i < 2000; ++i) {
                source->Notify((*names)[i % names->size()]);
            }
            --running;
        });
    }
    std::set<EConfigKey> seen;
    auto collect = [&] {
        const std::vector<EConfigKey> changed = mConfig->CheckChanges();
        EXPECT_EQ(std::ranges::adjacent_find(changed, std::greater_equal<>()), changed.end()); // sorted, no repeats
        seen.insert(changed.begin(), changed.end());
    };
    while (running > 0) {
        collect();
    }
    for (auto& thread : notifiers) {
        thread.join();
    }
    collect();
    EXPECT_EQ(seen, (std::set<EConfigKey>{InstallationComplete, TarvEthIpv4Addr, TarvSsid, WlanStaPassword, TarvLteApn,
                                          NtpServer1, NtpServer2}));
    EXPECT_TRUE(mConfig->CheckChanges().empty());
    // Listeners are removed on destruction.
    mConfig.reset();
    EXPECT_EQ(mSettings->listeners.size() + mSecrets->listeners.size() + mNetwork->listeners.size(), 0u);
}

// CTarvConfig on the real configuration sources: files under a temporary
// root, a change written by "another process" reported through the watcher.
TEST(TarvConfigOnQeConfig, ReadsFilesAndReportsChangesFromTheWatcherThread)
{
    TestSupport::CTempDir tmp;
    CRootDir::Set(tmp.Root());
    tmp.WriteFile("etc/config/hwinfo.json", R"({"HwHasWlan": true})");
    tmp.WriteFile("etc/config/network.json", R"({"TarvSsid": "station"})");
    {
        CTarvConfig config(QeConfig::Create("settings"), QeConfig::CreateReadOnly("hwinfo", {}, true),
                           QeConfig::Create("secrets"), QeConfig::Create("network"));
        EXPECT_TRUE(config.GetBool(HwHasWlan));
        EXPECT_EQ(config.GetString(TarvSsid), "station");
        // Another writer changes keys of "network" and "hwinfo" (read-only:
        // never reported). A request right after the write sees the change.
        for (int i = 0; i < 20; ++i) {
            const std::string ssid = "other" + std::to_string(i);
            tmp.WriteFile("etc/config/network.json", R"({"TarvSsid": ")" + ssid + R"(", "NtpServer1": "pool.example"})");
            tmp.WriteFile("etc/config/hwinfo.json", "{\"HwHasWlan\": " + std::string(i % 2 ? "true" : "false") + "}");
            EXPECT_EQ(config.CheckChanges(), i == 0 ? (std::vector<EConfigKey>{TarvSsid, NtpServer1})
                                                    : std::vector<EConfigKey>{TarvSsid});
            EXPECT_EQ(config.GetString(TarvSsid), ssid);
        }
        EXPECT_TRUE(config.CheckChanges().empty());

        // The SIM PIN's default stands only for a station that has a
        // secrets file: without one, no PIN is configured at all.
        EXPECT_EQ(config.GetString(TarvLteSimPin), "");
        tmp.WriteFile("etc/config/secrets.json", R"({"TarvLteApn": "internet"})");
        EXPECT_EQ(config.CheckChanges(), std::vector<EConfigKey>{TarvLteApn});
        EXPECT_EQ(config.GetString(TarvLteSimPin), "3185");
    }
    CRootDir::Set("/");
}
