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
    CFakeSource(std::string name, std::vector<std::string>* registrations)
        : mName(std::move(name)), mRegistrations(registrations)
    {
    }
    bool GetBool(const std::string& key, bool defaultValue) const override
    {
        const Json::Value& value = Get(key, &Json::Value::isBool);
        return value.isNull() ? defaultValue : value.asBool();
    }
    std::string GetString(const std::string& key, const std::string& defaultValue) const override
    {
        const Json::Value& value = Get(key, &Json::Value::isString);
        return value.isNull() ? defaultValue : value.asString();
    }
    const std::string& GetSource() const override { return mName; }
    void SetValue(const std::string& key, const Json::Value& value) override { mValues[key] = value; }
    void RegisterListener(const std::string& listenerName, const std::string& filter,
                          QeConfig::ChangeCallback callback) override
    {
        mRegistrations->push_back(mName + ":" + listenerName + ":" + filter);
        mListeners[listenerName] = std::move(callback);
    }
    void UnregisterListener(const std::string& listenerName) override { mListeners.erase(listenerName); }
    void Notify(const std::string& key)
    {
        for (const auto& [name, callback] : mListeners) {
            callback(key, Json::Value("ignored"));
        }
    }
    std::size_t ListenerCount() const { return mListeners.size(); }

    bool unreadable = false;

private:
    const Json::Value& Get(const std::string& key, bool (Json::Value::*is)() const) const
    {
        static const Json::Value kNull;
        if (unreadable) {
            throw QeConfig::CInvalidConfig(mName);
        }
        const auto it = mValues.find(key);
        if (it != mValues.end() && !it->second.isNull() && !(it->second.*is)()) {
            throw QeConfig::CTypeError(key);
        }
        return it == mValues.end() ? kNull : it->second;
    }

    std::string mName;
    std::vector<std::string>* mRegistrations;
    std::map<std::string, Json::Value> mValues;
    std::map<std::string, QeConfig::ChangeCallback> mListeners;
};

class TarvConfigTest : public ::testing::Test {
protected:
    std::vector<std::string> mRegistrations;
    std::shared_ptr<CFakeSource> mSettings = std::make_shared<CFakeSource>("settings", &mRegistrations);
    std::shared_ptr<CFakeSource> mHwinfo = std::make_shared<CFakeSource>("hwinfo", &mRegistrations);
    std::shared_ptr<CFakeSource> mSecrets = std::make_shared<CFakeSource>("secrets", &mRegistrations);
    std::shared_ptr<CFakeSource> mNetwork = std::make_shared<CFakeSource>("network", &mRegistrations);
    std::unique_ptr<CTarvConfig> mConfig = std::make_unique<CTarvConfig>(mSettings, mHwinfo, mSecrets, mNetwork);
};

// Reaches the failure path of a table row with a broken source.
class CTableConfig : public CTarvConfig {
public:
    CTableConfig(const std::shared_ptr<QeConfig::IConfig>& source, const ConfigKeyTable& table)
        : CTarvConfig(source, source, source, source, table)
    {
    }
};

} // namespace

TEST_F(TarvConfigTest, EveryKeyHasItsContractedNameSourceTypeAndDefault)
{
    // Other processes rely on these names, places and defaults: written out
    // here on their own, not taken from the product table.
    struct SKey {
        EConfigKey key;
        const char* name;
        const char* source;
        std::variant<bool, std::string> defaultValue;
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
        using Value = std::variant<bool, std::string>;
        const bool isBool = k.defaultValue.index() == 0;
        const auto read = [&] { return isBool ? Value(mConfig->GetBool(k.key)) : Value(mConfig->GetString(k.key)); };
        EXPECT_EQ(read(), k.defaultValue);
        // Every source holds the name; only the key's own source counts.
        for (const auto& source : {mSettings, mHwinfo, mSecrets, mNetwork}) {
            const bool own = source->GetSource() == k.source;
            if (isBool) {
                source->SetValue(k.name, Json::Value(own != std::get<bool>(k.defaultValue)));
            } else {
                source->SetValue(k.name, Json::Value(own ? "set" : "other"));
            }
        }
        EXPECT_EQ(read(), isBool ? Value(!std::get<bool>(k.defaultValue)) : Value("set"));
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(TarvConfigTest, TableFailuresReadAsEmptyLibraryErrorsPassThrough)
{
    CLogCapture log(Log::error);
    const ConfigKeyTable broken = {
        {TarvSsid, {static_cast<EConfigSource>(7), "TarvSsid", std::string("x")}},
        {TarvEthEnable, {static_cast<EConfigSource>(-1), "TarvEthEnable", true}},
    };
    CTableConfig config(mNetwork, broken);
    EXPECT_EQ(mConfig->GetString(TarvEthEnable), "");
    EXPECT_FALSE(mConfig->GetBool(ProductSn));
    EXPECT_FALSE(mConfig->GetBool(static_cast<EConfigKey>(39)));
    EXPECT_EQ(mConfig->GetString(static_cast<EConfigKey>(-1)), "");
    EXPECT_EQ(config.GetString(TarvSsid), "");
    EXPECT_FALSE(config.GetBool(TarvEthEnable));
    EXPECT_EQ(log.Lines().size(), 6u);
    EXPECT_TRUE(log.Contains("Key 'TarvSsid' has invalid source '7'"));
    // Errors of the library reach the caller.
    mNetwork->SetValue("TarvEthEnable", Json::Value("yes"));
    EXPECT_THROW(mConfig->GetBool(TarvEthEnable), QeConfig::CTypeError);
    mSecrets->unreadable = true;
    EXPECT_THROW(mConfig->GetString(TarvLteApn), QeConfig::CInvalidConfig);
}

TEST_F(TarvConfigTest, ChangesOnWritableSourcesAreReportedOnceInKeyOrder)
{
    EXPECT_EQ(mRegistrations,
              (std::vector<std::string>{"settings:tarvconfig:", "secrets:tarvconfig:", "network:tarvconfig:"}));
    EXPECT_EQ(mHwinfo->ListenerCount(), 0u);
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
    EXPECT_EQ(mSettings->ListenerCount() + mSecrets->ListenerCount() + mNetwork->ListenerCount(), 0u);
}

TEST_F(TarvConfigTest, ChangesFromOtherThreadsAreNeitherLostNorDuplicated)
{
    const std::vector<std::string> names = {"NtpServer2", "TarvSsid", "TarvEthIpv4Addr", "TarvApEnable",
                                            "NtpServer1", "TarvLteApn", "Unknown"};
    constexpr int kRounds = 2000;
    std::atomic<int> running{3};
    std::vector<std::thread> notifiers;
    for (int t = 0; t < 3; ++t) {
        notifiers.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                mNetwork->Notify(names[(i + t) % names.size()]);
            }
            --running;
        });
    }
    std::set<EConfigKey> seen;
    auto collect = [&] {
        const std::vector<EConfigKey> changed = mConfig->CheckChanges();
        EXPECT_TRUE(std::is_sorted(changed.begin(), changed.end()));
        EXPECT_EQ(std::adjacent_find(changed.begin(), changed.end()), changed.end());
        seen.insert(changed.begin(), changed.end());
    };
    while (running > 0) {
        collect();
    }
    for (auto& thread : notifiers) {
        thread.join();
    }
    collect();
    EXPECT_EQ(seen, (std::set<EConfigKey>{TarvEthIpv4Addr, TarvSsid, TarvApEnable, TarvLteApn, NtpServer1,
                                          NtpServer2}));
}
