#pragma once
// Notifications of the process-control service: lifecycle state and alive.

#include "proto/messages.pb.h"

class IProcessControl {
public:
    virtual ~IProcessControl() = default;
    virtual void NotifyState(const ipc::MState& state) = 0;
    virtual void NotifyAlive() = 0;
};
