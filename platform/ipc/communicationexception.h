#pragma once
// Raised when an IPC request or notification could not be delivered to the peer.

#include <stdexcept>
#include <string>

namespace Rpc {

class CommunicationException : public std::runtime_error {
public:
    explicit CommunicationException(const std::string& what) : std::runtime_error(what) {}
};

} // namespace Rpc
