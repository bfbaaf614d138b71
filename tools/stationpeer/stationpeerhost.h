#pragma once
// Runs the IPC host of a station peer (board controller, diagnostics
// collector) in the foreground: binds the services added to Host(), serves
// them until SIGINT or SIGTERM, and calls the SIGUSR1 handler for every
// SIGUSR1 (a peer's "do it now" from scripts). Signals are taken with
// sigwait on the calling thread, never in a handler.

#include "platform/ipc/appcommunicationhost.h"

#include <functional>
#include <memory>
#include <string>

class CStationPeerHost {
public:
    using Host = AppCommunicationHost<GrpcBackend>;

    // Reads ROOT followed by "etc/iipc.json"; the signals are blocked for
    // the whole process from here on (also in the host's threads).
    explicit CStationPeerHost(const std::string& root);

    Host& Get() { return *mHost; }
    // Blocks until SIGINT or SIGTERM; returns the process exit code.
    int Run(const std::function<void()>& onUser1);

private:
    std::shared_ptr<Host> mHost;
};
