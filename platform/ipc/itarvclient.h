#pragma once
// Notifications of the network service: interface status and a float value.

#include "proto/messages.pb.h"

class ITarvClient {
public:
    virtual ~ITarvClient() = default;
    virtual void NotifyStatus(const ipc::MNetStatus& status) = 0;
    virtual void NotifyFloat(float value) = 0;
};
