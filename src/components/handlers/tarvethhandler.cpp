#include "src/components/handlers/tarvethhandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "src/components/handlers/routetable.h"
#include "src/components/system/tarvexception.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/interfacenames.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string_view>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr std::chrono::seconds kEthStateTimeout{3};

} // namespace

CTarvEthHandler::CTarvEthHandler(const SHandlerParts& parts, std::string routeTablePath)
    : CTarvConnectionHandlerBase(parts, {ipc::EEth0, HwHasEthernet, kEthStateTimeout, &Signals::kEthState}),
      mInterfacesFileEditor(parts.interfacesFileEditor), mHostnameManager(parts.hostnameManager),
      mDnsManager(parts.ethDnsManager), mRouteTablePath(std::move(routeTablePath))
{
}

void CTarvEthHandler::Enable(bool& ok)
{
    TLOG_FUNCTION();
    CTarvConnectionHandlerBase::Enable(ok);
    // Static servers reach /etc/resolv.conf only while the interface is up.
    if (ok && !mConfig->GetBool(TarvDnsAuto)) {
        mDnsManager->UpdateSystemResolvConf();
    }
}

void CTarvEthHandler::Disable(bool& ok)
{
    TLOG_FUNCTION();
    CTarvConnectionHandlerBase::Disable(ok);
    if (!mConfig->GetBool(TarvDnsAuto)) {
        mDnsManager->UpdateSystemResolvConf();
    }
}

ipc::MNetStatus CTarvEthHandler::GetStatus()
{
    TLOG_FUNCTION();
    ipc::MNetStatus status = CTarvConnectionHandlerBase::GetStatus();
    const bool connected = status.connectionstate() == ipc::MNetStatus::EConnected;
    if (connected) {
        GetIpProperties(status);
        GetGateway(status);
        GetDns(status);
    }
    // With DHCP a link that comes back makes udhcpc renew its lease; a static
    // configuration leaves udhcpc alone.
    if (mConfig->GetBool(TarvEthDhcpEnable)) {
        UpdateUdhcpc(connected);
    }
    return status;
}

void CTarvEthHandler::GetGateway(ipc::MNetStatus& status)
{
    TLOG_FUNCTION();
    ipc::MNetStatus_MNetProperties* properties = status.mutable_properties();
    // Read directly: the status poll asks every second, and a shell
    // pipeline would cost far more than the query itself.
    std::ifstream file(mRouteTablePath);
    if (file.is_open()) {
        std::stringstream text;
        text << file.rdbuf();
        if (const auto column = CRouteTable::GatewayColumn(text.str(), mInterfaceName)) {
            properties->set_defaultgateway(HexIpToIntIp(*column));
            return;
        }
    }
    TLOG_TRACE("Could not get default gateway");
    properties->set_defaultgateway("0.0.0.0");
}

std::string CTarvEthHandler::HexIpToIntIp(const std::string& hexText)
{
    TLOG_FUNCTION();
    // The status poll runs this every second: a route line it cannot read
    // must not end the daemon.
    const std::optional<std::uint32_t> value = CRouteTable::Address(hexText);
    {
        // The poll would repeat the same complaint every second: once per
        // change of the table is enough.
        std::lock_guard lock(mRouteLogMutex);
        if (!value) {
            if (!mLastUnreadableGateway || *mLastUnreadableGateway != hexText) {
                TLOG_ERROR("Gateway '{}' in the route table is not a hexadecimal IPv4 address",
                           CTarvValidation::Printable(hexText));
                mLastUnreadableGateway = hexText;
            }
            return "0.0.0.0";
        }
        mLastUnreadableGateway.reset();
    }
    const std::uint32_t address = *value;
    return std::to_string(address & 0xFFU) + "." + std::to_string((address >> 8) & 0xFFU) + "." +
           std::to_string((address >> 16) & 0xFFU) + "." + std::to_string((address >> 24) & 0xFFU);
}

void CTarvEthHandler::GetDns(ipc::MNetStatus& status)
{
    TLOG_FUNCTION();
    // The servers in force for eth0; an absent one is left empty, not given
    // a placeholder address.
    ipc::MNetStatus_MNetDns* dns = status.mutable_dns();
    std::optional<std::queue<std::string>> servers = mDnsManager->GetDnsServers();
    if (!servers || servers->empty()) {
        return;
    }
    dns->set_primarydns(servers->front());
    servers->pop();
    if (!servers->empty()) {
        dns->set_secondarydns(servers->front());
    }
}

bool CTarvEthHandler::AreStaticPropertiesValid(const std::string& address, const std::string& netmask,
                                               const std::string& gateway) const
{
    bool valid = true;
    if (!CTarvValidation::IsIpv4HostAddress(address)) {
        TLOG_ERROR("Static IP address '{}' for {} is not a valid IPv4 address ({})",
                   CTarvValidation::Printable(address), mInterfaceName, CTarvValidation::kIpv4HostAddressRule);
        valid = false;
    }
    if (!CTarvValidation::IsIpv4Netmask(netmask)) {
        TLOG_ERROR("Static netmask '{}' for {} is not a valid IPv4 netmask ({})", CTarvValidation::Printable(netmask),
                   mInterfaceName, CTarvValidation::kIpv4NetmaskRule);
        valid = false;
    }
    // An empty gateway, or 0.0.0.0, means none.
    if (!gateway.empty() && gateway != "0.0.0.0" && !CTarvValidation::IsIpv4HostAddress(gateway)) {
        TLOG_ERROR("Static gateway '{}' for {} is not a valid IPv4 address ({})", CTarvValidation::Printable(gateway),
                   mInterfaceName, CTarvValidation::kIpv4HostAddressRule);
        valid = false;
    }
    return valid;
}

void CTarvEthHandler::SetIfProperties(bool& ok)
{
    TLOG_FUNCTION();
    if (!mSupported) {
        TLOG_WARN("{} not suported", mInterfaceName);
        return;
    }
    const bool dhcp = mConfig->GetBool(TarvEthDhcpEnable);
    const std::string address = mConfig->GetString(TarvEthIpv4Addr);
    const std::string netmask = mConfig->GetString(TarvEthIpv4Netmask);
    const std::string gateway = mConfig->GetString(TarvEthGatewayAddr);
    const std::optional<std::string> hostname = mHostnameManager->GetHostname();
    if (!hostname) {
        TLOG_ERROR("Could not get hostname");
        ok = false;
        return;
    }
    if (!dhcp) {
        if (address.empty() || netmask.empty()) {
            TLOG_ERROR("IP address or netmask are empty for {} static properties", mInterfaceName);
            ok = false;
        } else if (!AreStaticPropertiesValid(address, netmask, gateway)) {
            // The values come from other processes and end up in the interfaces file.
            ok = false;
        }
        if (!ok) {
            // Nothing was changed: the interface keeps its running configuration.
            TLOG_ERROR("Failed to set static IP address for {}", mInterfaceName);
            return;
        }
    }

    // The interface goes down under the stanza it was brought up with: ifdown
    // picks the down method from the file, and only the DHCP method stops the
    // DHCP client, whose next renewal would otherwise bring back its lease.
    // Through the virtual interface, so that the handler's own steps run too.
    const bool restart = mConfig->GetBool(TarvEthEnable);
    bool restarted = true;
    std::exception_ptr downFailure;
    if (restart) {
        try {
            Disable(restarted);
        } catch (const CTarvException&) {
            // The new configuration is still written; the failure is reported after.
            downFailure = std::current_exception();
        }
    }

    if (dhcp) {
        mInterfacesFileEditor->SetAsDhcp(Tarv::kEth0, *hostname, ok);
    } else {
        mInterfacesFileEditor->SetAsStaticIpv4(Tarv::kEth0, *hostname, address, netmask, ok, gateway);
    }
    mInterfacesFileEditor->SetInterfacesFile(ok);
    if (!ok) {
        TLOG_ERROR("Failed to set static IP address for {}", mInterfaceName);
    }
    if (downFailure) {
        std::rethrow_exception(downFailure);
    }

    if (restart) {
        Enable(restarted);
        if (!restarted) {
            TLOG_WARN("{} could not be restarted after setting static IP properties", mInterfaceName);
        }
    }
}

void CTarvEthHandler::SetDns(bool& ok)
{
    TLOG_FUNCTION();
    if (!mSupported) {
        TLOG_WARN("{} not suported", mInterfaceName);
        return;
    }
    // The DNS manager leaves out unset entries and refuses malformed ones.
    const std::vector<std::string> servers{mConfig->GetString(TarvPreferredDnsServerAddr),
                                           mConfig->GetString(TarvAlternativeDnsServerAddr)};

    const bool dnsAuto = mConfig->GetBool(TarvDnsAuto);
    if (dnsAuto) {
        // The lease's servers apply again once the static ones are withdrawn.
        mDnsManager->ClearDnsServers();
    }
    if (dnsAuto && mConfig->GetBool(TarvEthDhcpEnable)) {
        if (mConfig->GetBool(TarvEthEnable)) {
            // A renewed lease brings the DHCP server's DNS servers, which
            // udhcpc writes to the interface's resolver file.
            try {
                const int pid = GetUdhcpcPid();
                if (pid == -1) {
                    TLOG_ERROR("Could not get pid of eth udhcpc process");
                    ok = false;
                    return;
                }
                if (!TriggerUdhcpcRenew(pid)) {
                    TLOG_ERROR("Could not get DNS information from the network");
                    ok = false;
                    return;
                }
            } catch (const std::logic_error& e) {
                TLOG_ERROR("Caught error while setting auto DNS: {} ", e.what());
                ok = false;
                return;
            }
        }
    } else if (!dnsAuto) {
        if (!mDnsManager->SetDnsServers(servers)) {
            TLOG_ERROR("Could not set static DNS");
            ok = false;
            TLOG_ERROR("Failed to set DNS addresses");
            return;
        }
    }
    if (!ok) {
        TLOG_ERROR("Failed to set DNS addresses");
    }
}
