#pragma once
// Requests of the process-control service: enable and disable the process.

#include "proto/messages.pb.h"

class IGenericControl {
public:
    virtual ~IGenericControl() = default;
    virtual ipc::MResult Enable() = 0;
    virtual ipc::MResult Disable() = 0;
    // The lifecycle state last notified. Only the client side asks the peer;
    // a served process-control service is answered by the IPC host from the
    // last state notification it sent, so service objects need not override.
    virtual ipc::MState GetState() { return {}; }
};
