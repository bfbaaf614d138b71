#pragma once
// What the handlers read from and do to the running system outside the
// kernel's link table: interface addresses, process information and signals.
// A seam, so that address and process checks are testable without root.

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

class IHostSystem {
public:
    struct SIpv4Address {
        std::string interfaceName;
        in_addr address{};
        in_addr netmask{};
    };

    virtual ~IHostSystem() = default;

    // Every IPv4 address with its netmask, in the system's order; nullopt
    // when the list cannot be read.
    virtual std::optional<std::vector<SIpv4Address>> Ipv4Addresses() = 0;
    // The pids of the running processes (the numbered entries of /proc);
    // empty when /proc cannot be read.
    virtual std::vector<int> ProcessIds() = 0;
    // The content of /proc/PID/ENTRY ("comm", "cmdline", "stat"); empty when unreadable.
    virtual std::string ProcessFile(int pid, const std::string& entry) = 0;
    // Sends the signal; 0 on success, else the errno value.
    virtual int SignalProcess(int pid, int signalNumber) = 0;
};
