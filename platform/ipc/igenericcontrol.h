#pragma once
// Requests of the process-control service: enable and disable the process.

#include "proto/messages.pb.h"

class IGenericControl {
public:
    virtual ~IGenericControl() = default;
    virtual ipc::MResult Enable() = 0;
    virtual ipc::MResult Disable() = 0;
};
