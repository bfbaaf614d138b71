#pragma once
// The network service as the IPC host serves it: the requests of ITarv, and
// the senders of its notifications, which the host installs when the
// service is added.

#include "platform/ipc/itarv.h"

#include <functional>

class IServedTarv : public ITarv {
public:
    struct SSenders {
        std::function<void(const ipc::MNetStatus&)> status;
        std::function<void(float)> value;
    };
    // Called once, before the service is served.
    virtual void InstallSenders(SSenders senders) = 0;
};
