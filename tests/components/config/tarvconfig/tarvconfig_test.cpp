#include "src/components/config/tarvconfig.h"

#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <json/value.h>

#include <algorithm>
#include <atomic>
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
    struct SKey {
        EConfigKey key;
        const char* name;
        const char* source;
        Value defaultValue;
    };
    // The name is the key's own identifier.
#define K(key, source, defaultValue) {key, #key, #source, defaultValue}
    const std::vector<SKey> keys = {
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
    for (const auto& k : keys) {
        SCOPED_TRACE(k.name);
        ASSERT_EQ(static_cast<std::size_t>(k.key), static_cast<std::size_t>(&k - keys.data()));
        const bool isBool = k.defaultValue.index() == 0;
        const auto read = [&] { return isBool ? Value(mConfig->GetBool(k.key)) : Value(mConfig->GetString(k.key)); };
        EXPECT_EQ(read(), k.defaultValue);
        // Every source holds the name; only the key's own source counts.
        for (const auto& source : {mSettings, mHwinfo, mSecrets, mNetwork}) {
            const bool own = source->GetSource() == k.source;
            source->SetValue(k.name, isBool ? Json::Value(own != std::get<bool>(k.defaultValue))
                                            : Json::Value(own ? "set" : "other"));
        }
        EXPECT_EQ(read(), isBool ? Value(!std::get<bool>(k.defaultValue)) : Value("set"));
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(TarvConfigTest, KeysOfTheOtherTypeOrOutsideTheTableReadAsEmptyLibraryErrorsPassThrough)
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

TEST_F(TarvConfigTest, ChangesOnWritableSourcesAreReportedOnceInKeyOrder)
{
    for (const auto& source : {mSettings, mSecrets, mNetwork}) {
        EXPECT_EQ(source->listeners.count("tarvconfig:"), 1u) << source->GetSource();
    }
    EXPECT_TRUE(mHwinfo->listeners.empty());
    for (const char* name : {"TarvSsid", "NtpServer1", "TarvSsid", "NoSuchKey", "TarvSsid"}) {
        mNetwork->Notify(name);
    }
    mSecrets->Notify("WlanStaPassword");
    mSettings->Notify("InstallationComplete");
    EXPECT_EQ(mConfig->CheckChanges(),
              (std::vector<EConfigKey>{InstallationComplete, TarvSsid, WlanStaPassword, NtpServer1}));
    EXPECT_TRUE(mConfig->CheckChanges().empty());
    // Listeners are removed on destruction.
    mConfig.reset();
    EXPECT_EQ(mSettings->listeners.size() + mSecrets->listeners.size() + mNetwork->listeners.size(), 0u);
}

TEST_F(TarvConfigTest, ChangesFromOtherThreadsAreNeitherLostNorDuplicated)
{
    const std::vector<std::string> names = {"NtpServer2", "TarvSsid", "TarvEthIpv4Addr", "TarvApEnable",
                                            "NtpServer1", "TarvLteApn", "Unknown"};
    std::atomic<int> running{3};
    std::vector<std::thread> notifiers;
    for (int t = 0; t < 3; ++t) {
        notifiers.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                mNetwork->Notify(names[(i + t) % names.size()]);
            }
            --running;
        });
    }
    std::set<EConfigKey> seen;
    auto collect = [&] {
        const std::vector<EConfigKey> changed = mConfig->CheckChanges();
        EXPECT_EQ(std::set<EConfigKey>(changed.begin(), changed.end()).size(), changed.size());
        seen.insert(changed.begin(), changed.end());
    };
    while (running > 0) {
        collect();
    }
    for (auto& thread : notifiers) {
        thread.join();
    }
    collect();
    EXPECT_EQ(seen, (std::set<EConfigKey>{TarvEthIpv4Addr, TarvSsid, TarvApEnable, TarvLteApn, NtpServer1, NtpServer2}));
}
