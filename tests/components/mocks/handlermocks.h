#pragma once
// Scripted collaborators of the interface handlers.

#include "src/components/system/ihostnamemanager.h"
#include "src/components/system/iruncommand.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/system/itarvdnsmanager.h"
#include "src/components/links/itarverrorhandler.h"
#include "src/components/system/itarvinterfacesfileeditor.h"
#include "src/components/links/itarvnetlink.h"
#include "src/components/wlan/iwpasupplicanthandler.h"

#include <gmock/gmock.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace HandlerMocks {

struct MockRunCommand : IRunCommand {
    MOCK_METHOD(SCommandResult, Run, (const std::string& commandLine, unsigned retries), (override));
};

// Configuration from a map; missing keys read as false / empty.
struct CFakeConfig : ITarvConfig {
    bool GetBool(EConfigKey key) const override { return bools.count(key) != 0 && bools.at(key); }
    std::string GetString(EConfigKey key) const override { return strings.count(key) != 0 ? strings.at(key) : ""; }
    std::vector<EConfigKey> CheckChanges() override { return {}; }
    std::map<EConfigKey, bool> bools;
    std::map<EConfigKey, std::string> strings;
};

struct MockTarvNetlink : ITarvNetlink {
    MOCK_METHOD(nl_sock*, ConnectSocket, (), (override));
    MOCK_METHOD(rtnl_link*, GetLink, (nl_sock * socket, const std::string& interfaceName), (override));
    MOCK_METHOD(std::uint8_t, GetLinkState, (rtnl_link * link), (override));
    MOCK_METHOD(void, DeleteExternalNetlinkPointers, (nl_sock * socket, rtnl_link* link), (override));
};

struct MockTarvErrorHandler : ITarvErrorHandler {
    MOCK_METHOD(bool, DoesIfExist, (const std::string& interfaceName), (override));
    MOCK_METHOD(bool, RecoverFromIfUpDown, (const std::string& interfaceName, std::uint8_t desiredState), (override));
    MOCK_METHOD(bool, IsIfInDesiredState, (const std::string& interfaceName, std::uint8_t desiredState), (override));
};

struct MockInterfacesFileEditor : ITarvInterfacesFileEditor {
    MOCK_METHOD(void, InitializeFile, (const std::string& hostname), (override));
    MOCK_METHOD(void, SetInterfacesFile, (bool& ok), (override));
    MOCK_METHOD(void, SetAsDhcp, (const std::string& interfaceName, const std::string& hostname, bool& ok),
                (override));
    MOCK_METHOD(void, SetAsStaticIpv4,
                (const std::string& interfaceName, const std::string& hostname, const std::string& address,
                 const std::string& netmask, bool& ok, const std::string& gateway),
                (override));
    MOCK_METHOD(void, SetAsStaticIpv6,
                (const std::string& interfaceName, const std::string& address, const std::string& netmask, bool& ok),
                (override));
};

struct MockDnsManager : ITarvDnsManager {
    MOCK_METHOD(bool, SetDnsServers, (const std::vector<std::string>& servers), (override));
    MOCK_METHOD(bool, ClearDnsServers, (), (override));
    MOCK_METHOD(std::optional<std::queue<std::string>>, GetDnsServers, (), (override));
    MOCK_METHOD(void, UpdateSystemResolvConf, (), (override));
};

struct MockHostnameManager : IHostnameManager {
    MOCK_METHOD(std::optional<std::string>, GetHostname, (), (override));
    MOCK_METHOD(bool, SetHostname, (const std::string& name), (override));
};

struct MockWpaSupplicantHandler : IWpaSupplicantHandler {
    MOCK_METHOD(bool, StartWpaSupplicant,
                (std::string_view interfaceName, std::string_view ssid, std::string_view passphrase), (override));
    MOCK_METHOD(void, StopWpaSupplicant, (), (override));
};

// The ok flag a handler call leaves behind; it starts out true.
template <typename H, typename C>
bool OkAfter(H& handler, void (C::*call)(bool&))
{
    bool ok = true;
    (handler.*call)(ok);
    return ok;
}

// Stand-ins for libnl objects; the mocks never dereference them.
inline nl_sock* FakeSocket(std::uintptr_t n = 1) { return reinterpret_cast<nl_sock*>(0x1000 + n * 0x10); }
inline rtnl_link* FakeLink(std::uintptr_t n = 1) { return reinterpret_cast<rtnl_link*>(0x2000 + n * 0x10); }

} // namespace HandlerMocks
