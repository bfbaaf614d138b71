#pragma once
// The mobile network's DNS servers on their way into the resolver: only
// address literals are taken, a change is logged, and the modem's own relay
// goes first.

#include "src/components/system/itarvdnsmanager.h"

#include <memory>
#include <string>
#include <vector>

class CLteDnsServers {
public:
    // The modem's own router, first in the resolver list.
    static constexpr const char* kModemRouter = "192.168.225.1";

    // Throws std::invalid_argument without a DNS manager.
    explicit CLteDnsServers(std::shared_ptr<ITarvDnsManager> dnsManager);

    // The address literals among the network's answers; the rest is logged.
    static std::vector<std::string> AddressesOnly(const std::vector<std::string>& servers);
    // Stores a non-empty list that differs from stored; true when it did.
    static bool Update(const std::vector<std::string>& servers, std::vector<std::string>& stored);

    // Writes the modem's relay and then the servers (one or two).
    void Write(const std::vector<std::string>& servers) const;
    // Takes the network's servers out of the resolver.
    void Clear() const;

private:
    const std::shared_ptr<ITarvDnsManager> mDnsManager;
};
