#pragma once
// Requests of the network service: WLAN scan, validation of changed
// configuration and a request for interface status notifications.

#include "proto/messages.pb.h"

class ITarv {
public:
    virtual ~ITarv() = default;
    virtual ipc::MScanWlan ScanWlan() = 0;
    virtual bool Validate() = 0;
    virtual bool TriggerNotification(const ipc::MNetInterfaces& interfaces) = 0;
};
