#pragma once
// Learns how the IPC host's served services are used. Given to the host at
// construction (none: nothing is reported); a monitoring tool or a test
// follows the subscriptions through it.

#include <cstddef>
#include <string>

class IIpcObserver {
public:
    virtual ~IIpcObserver() = default;
    // The number of clients subscribed to the named service's notifications
    // changed. Called on a gRPC thread in the order of the changes, under the
    // service's subscriber lock: keep it short and never call the host from it.
    virtual void SubscribersChanged(const std::string& service, std::size_t count) = 0;
};
