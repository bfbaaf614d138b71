#pragma once
// What the NTP manager asks of the system besides running commands: whether
// a server name resolves and whether the kernel clock is synchronised.

#include <string>

class INtpSystem {
public:
    virtual ~INtpSystem() = default;
    // True when the name (or address literal) resolves to at least one
    // address. A failure is logged unless quiet is set.
    virtual bool ResolveHost(const std::string& host, bool quiet) = 0;
    virtual bool IsClockSynchronised() = 0;
};
