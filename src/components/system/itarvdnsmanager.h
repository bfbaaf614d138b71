#pragma once
// Owner of one interface's name servers in the resolver directory.

#include <optional>
#include <queue>
#include <string>
#include <vector>

class ITarvDnsManager {
public:
    // Puts the daemon's own servers for the interface in force, in place of
    // those of the DHCP client's lease, and rebuilds /etc/resolv.conf.
    virtual bool SetDnsServers(const std::vector<std::string>& servers) = 0;
    // Withdraws the daemon's own servers, so that the lease's apply again.
    // True when there was something to withdraw.
    virtual bool ClearDnsServers() = 0;
    // The servers in force for the interface, first first.
    virtual std::optional<std::queue<std::string>> GetDnsServers() = 0;
    virtual void UpdateSystemResolvConf() = 0;
    virtual ~ITarvDnsManager() = default;
};
