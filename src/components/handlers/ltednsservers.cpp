#include "src/components/handlers/ltednsservers.h"

#include "platform/log/log.h"
#include "platform/toolbox/join.h"
#include "platform/toolbox/tarvvalidation.h"

#include <stdexcept>
#include <utility>

CLteDnsServers::CLteDnsServers(std::shared_ptr<ITarvDnsManager> dnsManager) : mDnsManager(std::move(dnsManager))
{
    if (!mDnsManager) {
        throw std::invalid_argument("CLteDnsServers: no DNS manager");
    }
}

std::vector<std::string> CLteDnsServers::AddressesOnly(const std::vector<std::string>& servers)
{
    std::vector<std::string> addresses;
    for (const auto& server : servers) {
        if (CTarvValidation::IsIpv4Address(server) || CTarvValidation::IsIpv6Address(server)) {
            addresses.push_back(server);
        } else {
            TLOG_ERROR("MobileNetwork: DNS server '{}' is not an address, ignored", CTarvValidation::Printable(server));
        }
    }
    return addresses;
}

bool CLteDnsServers::Update(const std::vector<std::string>& servers, std::vector<std::string>& stored)
{
    if (servers.empty() || servers == stored) {
        return false;
    }
    TLOG_INFO("MobileNetwork: DNS servers switched from [{}] to [{}]", stored.empty() ? "none" : Join(stored),
              Join(servers));
    stored = servers;
    return true;
}

void CLteDnsServers::Write(const std::vector<std::string>& servers) const
{
    TLOG_FUNCTION();
    std::vector<std::string> all{kModemRouter};
    all.insert(all.end(), servers.begin(), servers.end());
    if (!mDnsManager->SetDnsServers(all)) {
        TLOG_ERROR("Failed to set DNS servers for lte0.");
    }
}

void CLteDnsServers::Clear() const
{
    mDnsManager->ClearDnsServers();
}
