#pragma once
// Owner of one interface's resolver file.

#include <optional>
#include <queue>
#include <string>
#include <vector>

class ITarvDnsManager {
public:
    virtual bool SetDnsServers(const std::vector<std::string>& servers) = 0;
    virtual std::optional<std::queue<std::string>> GetDnsServers() = 0;
    virtual void UpdateSystemResolvConf() = 0;
    virtual ~ITarvDnsManager() = default;
};
