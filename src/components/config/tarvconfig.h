#pragma once
// The daemon's only way to read its configuration: a fixed table of keys,
// each living in one of four configuration sources with a type (boolean or
// string) and a default, and a record of the keys other processes changed.

#include "platform/config/qeconfig.h"
#include "src/components/config/itarvconfig.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <variant>
#include <vector>

enum EConfigSource : std::int32_t {
    Hwinfo = 0,
    Network = 1,
    Secrets = 2,
    Settings = 3,
};

// One row of the key table. The alternative the default holds (0 boolean,
// 1 string) is the key's value type.
struct SConfigKeyInfo {
    EConfigSource source;
    std::string name;
    std::variant<bool, std::string> defaultValue;
};

using ConfigKeyTable = std::map<EConfigKey, SConfigKeyInfo>;

namespace Tarv {
// Keys whose values are secrets: never to be logged.
inline const std::string kWlanApPasswordKey = "WlanApPassword";
inline const std::string kWlanStaPasswordKey = "WlanStaPassword";
inline const std::string kLteApnPassKey = "TarvLteApnPass";
inline const std::string kSmsPasswordKey = "TarvSmsPassword";
} // namespace Tarv

class CTarvConfig : public ITarvConfig {
public:
    // The daemon's keys, ascending by enumerator; never changes.
    static const ConfigKeyTable& KeyTable();

    // Keeps the four sources and registers the change listener "tarvconfig"
    // on "settings", "secrets" and "network" (in this order); "hwinfo" is
    // read-only and never reports changes.
    CTarvConfig(const std::shared_ptr<QeConfig::IConfig>& settings,
                const std::shared_ptr<QeConfig::IReadOnlyConfig>& hwinfo,
                const std::shared_ptr<QeConfig::IConfig>& secrets,
                const std::shared_ptr<QeConfig::IConfig>& network);
    // Unregisters the listeners; returns once none of them runs.
    ~CTarvConfig() override;
    CTarvConfig(const CTarvConfig&) = delete;
    CTarvConfig& operator=(const CTarvConfig&) = delete;

    // The key's value from its source, or the key's default when the source
    // does not hold it. An unknown key or a key of the other type is logged
    // and reads as false / empty. QeConfig::CTypeError (stored value of
    // another type) and QeConfig::CInvalidConfig (unreadable source) pass to
    // the caller. No lock: the table and the sources never change.
    bool GetBool(EConfigKey key) const override;
    std::string GetString(EConfigKey key) const override;
    // Keys changed since the previous call, ascending, each once; names the
    // table does not know are dropped. Empties the record.
    std::vector<EConfigKey> CheckChanges() override;
    // Records a changed key name; called by the listeners, on any thread.
    void OnConfigChange(const std::string& keyName);

private:
    // The row of key if it exists and holds type index expected; logs otherwise.
    const SConfigKeyInfo* Row(EConfigKey key, std::size_t expected, const char* typeName) const;
    // The configuration a row's source names.
    const QeConfig::IReadOnlyConfig& Source(EConfigSource source) const;

    std::shared_ptr<QeConfig::IConfig> mSettings;
    std::shared_ptr<QeConfig::IReadOnlyConfig> mHwinfo;
    std::shared_ptr<QeConfig::IConfig> mSecrets;
    std::shared_ptr<QeConfig::IConfig> mNetwork;
    std::mutex mMutex;                           // guards mChangedKeys
    std::unordered_set<std::string> mChangedKeys; // guarded by mMutex; names only, never values
};
