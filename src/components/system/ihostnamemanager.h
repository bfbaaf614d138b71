#pragma once
// The system host name: kernel, /etc/hostname and /etc/hosts.

#include <optional>
#include <string>

class IHostnameManager {
public:
    virtual std::optional<std::string> GetHostname() = 0;
    virtual bool SetHostname(const std::string& name) = 0;
    virtual ~IHostnameManager() = default;
};
