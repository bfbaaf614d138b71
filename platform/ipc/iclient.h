#pragma once
// A client of a named service of another process, created by the IPC host.

#include <chrono>
#include <memory>

template <typename I>
class IClient {
public:
    virtual ~IClient() = default;
    // The interface whose operations are requests to the peer. Requests
    // raise Rpc::CommunicationException when the peer cannot be reached.
    virtual std::shared_ptr<I> GetInterface() const = 0;
    // Whether the notification subscription is currently established
    // (always false for services without notifications).
    virtual bool IsSubscribed() const = 0;
    // Waits until the subscription is established; false after the timeout.
    virtual bool WaitSubscribed(std::chrono::milliseconds timeout) const = 0;
};
