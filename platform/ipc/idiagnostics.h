#pragma once
// The diagnostics collector: receives one signal sample per call.

#include "platform/ipc/diagnosticscommclient.h"

class IDiagnostics {
public:
    virtual ~IDiagnostics() = default;
    // Client side: false when the collector could not be reached in time.
    virtual bool SendSample(const CDiagnosticsCommClient::SSample& sample) = 0;
};
