#pragma once
// Typed access to the daemon's configuration keys.

#include <cstdint>
#include <string>
#include <vector>

enum EConfigKey : std::int32_t {
    ProductSn = 0,
    Hostname = 1,
    InstallationComplete = 2,
    HwHasEthernet = 3,
    EthMacAddr = 4,
    TarvEthEnable = 5,
    TarvEthDhcpEnable = 6,
    TarvEthIpv4Addr = 7,
    TarvEthIpv4Netmask = 8,
    TarvEthGatewayAddr = 9,
    TarvDnsAuto = 10,
    TarvPreferredDnsServerAddr = 11,
    TarvAlternativeDnsServerAddr = 12,
    HwHasWlan = 13,
    WlanStaMacAddr = 14,
    WlanApMacAddr = 15,
    TarvWlanEnable = 16,
    TarvSsid = 17,
    WlanStaPassword = 18,
    TarvWlanDhcpEnable = 19,
    TarvWlanIpv4Addr = 20,
    TarvWlanIpv4Netmask = 21,
    TarvApEnable = 22,
    WlanApPassword = 23,
    HwHasLte = 24,
    TarvLteEnable = 25,
    TarvLteNbIotEnable = 26,
    TarvLteSimPin = 27,
    TarvLteApn = 28,
    TarvLteApnUser = 29,
    TarvLteApnPass = 30,
    TarvLteApnAuth = 31,
    TarvLteApnIp = 32,
    TarvSmsPassword = 33,
    HwHasPlc = 34,
    PlcMacAddr = 35,
    TarvPlcEnable = 36,
    NtpServer1 = 37,
    NtpServer2 = 38,
};

class ITarvConfig {
public:
    virtual ~ITarvConfig() = default;
    // The key's value, or false / empty on a lookup or type-table failure.
    // QeConfig::CTypeError and QeConfig::CInvalidConfig pass to the caller.
    virtual bool GetBool(EConfigKey key) const = 0;
    virtual std::string GetString(EConfigKey key) const = 0;
    // Keys changed since the previous call, ascending; empties the record.
    virtual std::vector<EConfigKey> CheckChanges() = 0;
};
