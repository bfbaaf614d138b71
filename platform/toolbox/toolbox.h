#pragma once
// Small system helpers: clock synchronisation status and name resolution.

#include <string>

class Toolbox {
public:
    Toolbox() = delete;

    // 0 while the kernel clock is not synchronised (or its state cannot be
    // read), 1 once it is.
    static int GetNtpSyncStatus();

    // Non-zero when the name (or address literal) resolves to at least one
    // address. A failure is logged at error level unless quiet is set.
    static int ResolveHost(const std::string& host, bool quiet);
};
