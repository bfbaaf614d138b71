#pragma once
// A process-control service as the IPC host serves it: the requests of
// IGenericControl, and the senders of its notifications, which the host
// installs when the service is added.

#include "platform/ipc/igenericcontrol.h"

#include <functional>

class IServedProcessControl : public IGenericControl {
public:
    struct SSenders {
        std::function<void(const ipc::MState&)> state;
        std::function<void()> alive;
    };
    // Called once, before the service is served; a service without
    // notifications ignores it.
    virtual void InstallSenders(SSenders senders) = 0;
};
