#pragma once
// The running system as the handlers see it: getifaddrs, /proc and kill.

#include "src/components/handlers/ihostsystem.h"

#include <cstddef>

class CHostSystem : public IHostSystem {
public:
    std::optional<std::vector<SIpv4Address>> Ipv4Addresses() override;
    std::vector<int> ProcessIds() override;
    std::string ProcessFile(int pid, const std::string& entry) override;
    int SignalProcess(int pid, int signalNumber) override;

    // Longer process files are cut here (a command line of a foreign
    // process can be megabytes; identities are read from the first bytes).
    static constexpr std::size_t kMaxProcessFile = 64 * 1024;
};
