#include "src/components/config/tarvconfig.h"

#include "platform/log/log.h"

#include <typeinfo>

namespace {

const char* const kListenerName = "tarvconfig";

} // namespace

const ConfigKeyTable& CTarvConfig::KeyTable()
{
    static const ConfigKeyTable table = {
        {ProductSn, {Hwinfo, "ProductSn", std::string("00-00-000-000")}},
        {Hostname, {Hwinfo, "Hostname", std::string()}},
        {InstallationComplete, {Settings, "InstallationComplete", false}},
        {HwHasEthernet, {Hwinfo, "HwHasEthernet", false}},
        {EthMacAddr, {Hwinfo, "EthMacAddr", std::string()}},
        {TarvEthEnable, {Network, "TarvEthEnable", true}},
        {TarvEthDhcpEnable, {Network, "TarvEthDhcpEnable", true}},
        {TarvEthIpv4Addr, {Network, "TarvEthIpv4Addr", std::string()}},
        {TarvEthIpv4Netmask, {Network, "TarvEthIpv4Netmask", std::string()}},
        {TarvEthGatewayAddr, {Network, "TarvEthGatewayAddr", std::string()}},
        {TarvDnsAuto, {Network, "TarvDnsAuto", true}},
        {TarvPreferredDnsServerAddr, {Network, "TarvPreferredDnsServerAddr", std::string()}},
        {TarvAlternativeDnsServerAddr, {Network, "TarvAlternativeDnsServerAddr", std::string()}},
        {HwHasWlan, {Hwinfo, "HwHasWlan", false}},
        {WlanStaMacAddr, {Hwinfo, "WlanStaMacAddr", std::string()}},
        {WlanApMacAddr, {Hwinfo, "WlanApMacAddr", std::string()}},
        {TarvWlanEnable, {Network, "TarvWlanEnable", false}},
        {TarvSsid, {Network, "TarvSsid", std::string()}},
        {WlanStaPassword, {Secrets, Tarv::kWlanStaPasswordKey, std::string()}},
        {TarvWlanDhcpEnable, {Network, "TarvWlanDhcpEnable", true}},
        {TarvWlanIpv4Addr, {Network, "TarvWlanIpv4Addr", std::string()}},
        {TarvWlanIpv4Netmask, {Network, "TarvWlanIpv4Netmask", std::string()}},
        {TarvApEnable, {Network, "TarvApEnable", true}},
        {WlanApPassword, {Secrets, Tarv::kWlanApPasswordKey, std::string()}},
        {HwHasLte, {Hwinfo, "HwHasLte", false}},
        {TarvLteEnable, {Network, "TarvLteEnable", true}},
        {TarvLteNbIotEnable, {Network, "TarvLteNbIotEnable", false}},
        {TarvLteSimPin, {Secrets, "TarvLteSimPin", std::string("3185")}},
        {TarvLteApn, {Secrets, "TarvLteApn", std::string()}},
        {TarvLteApnUser, {Secrets, "TarvLteApnUser", std::string()}},
        {TarvLteApnPass, {Secrets, Tarv::kLteApnPassKey, std::string()}},
        {TarvLteApnAuth, {Secrets, "TarvLteApnAuth", std::string()}},
        {TarvLteApnIp, {Secrets, "TarvLteApnIp", std::string()}},
        {TarvSmsPassword, {Secrets, Tarv::kSmsPasswordKey, std::string()}},
        {HwHasPlc, {Hwinfo, "HwHasPlc", false}},
        {PlcMacAddr, {Hwinfo, "PlcMacAddr", std::string()}},
        {TarvPlcEnable, {Network, "TarvPlcEnable", false}},
        {NtpServer1, {Network, "NtpServer1", std::string()}},
        {NtpServer2, {Network, "NtpServer2", std::string()}},
    };
    return table;
}

CTarvConfig::CTarvConfig(const std::shared_ptr<QeConfig::IConfig>& settings,
                         const std::shared_ptr<QeConfig::IReadOnlyConfig>& hwinfo,
                         const std::shared_ptr<QeConfig::IConfig>& secrets,
                         const std::shared_ptr<QeConfig::IConfig>& network)
    : mSettings(settings), mHwinfo(hwinfo), mSecrets(secrets), mNetwork(network)
{
    // The new value is not kept: the record holds names only, so no secret
    // is ever stored here.
    for (const auto& source : {mSettings, mSecrets, mNetwork}) {
        source->RegisterListener(kListenerName, "",
                                 [this](const std::string& key, const Json::Value&) { OnConfigChange(key); });
    }
}

CTarvConfig::~CTarvConfig()
{
    for (const auto& source : {mSettings, mSecrets, mNetwork}) {
        source->UnregisterListener(kListenerName);
    }
}

const SConfigKeyInfo* CTarvConfig::Row(EConfigKey key, std::size_t expected, const char* typeName) const
{
    const auto it = KeyTable().find(key);
    if (it == KeyTable().end()) {
        TLOG_ERROR("Could not find config key {}", static_cast<std::int32_t>(key));
        return nullptr;
    }
    const SConfigKeyInfo& row = it->second;
    if (row.defaultValue.index() != expected) {
        TLOG_ERROR("Key '{}' is not of type '{}', actual index: {}", row.name, typeName, row.defaultValue.index());
        return nullptr;
    }
    return &row;
}

const QeConfig::IReadOnlyConfig& CTarvConfig::Source(EConfigSource source) const
{
    switch (source) {
    case Hwinfo:
        return *mHwinfo;
    case Network:
        return *mNetwork;
    case Secrets:
        return *mSecrets;
    case Settings:
        break;
    }
    return *mSettings;
}

bool CTarvConfig::GetBool(EConfigKey key) const
{
    const SConfigKeyInfo* row = Row(key, 0, typeid(bool).name());
    if (row == nullptr) {
        return false;
    }
    return Source(row->source).GetBool(row->name, std::get<bool>(row->defaultValue));
}

std::string CTarvConfig::GetString(EConfigKey key) const
{
    const SConfigKeyInfo* row = Row(key, 1, typeid(std::string).name());
    if (row == nullptr) {
        return {};
    }
    const QeConfig::IReadOnlyConfig& source = Source(row->source);
    // A secret default (the SIM PIN's) stands for a provisioned station that
    // relies on it. Without any secrets file nobody configured a secret:
    // sending the default PIN to a SIM would cost an attempt.
    const bool noSecrets = row->source == Secrets && !source.HasFile();
    return source.GetString(row->name, noSecrets ? std::string() : std::get<std::string>(row->defaultValue));
}

std::vector<EConfigKey> CTarvConfig::CheckChanges()
{
    TLOG_FUNCTION();
    // A validation request usually follows right after another process
    // replaced a source file: let the watcher deliver what it has seen so far,
    // so that change is not left for the next request.
    QeConfig::SyncChanges();
    std::vector<EConfigKey> changed;
    std::lock_guard lock(mMutex);
    for (const auto& [key, row] : KeyTable()) {
        if (mChangedKeys.contains(row.name)) {
            changed.push_back(key);
        }
    }
    mChangedKeys.clear();
    return changed;
}

void CTarvConfig::OnConfigChange(const std::string& keyName)
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    mChangedKeys.insert(keyName);
}
