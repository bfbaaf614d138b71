#pragma once
// How a failed call to a peer is described and reported.

#include "platform/ipc/ipcconfiguration.h"

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <string>

namespace IpcGrpc {

// A short text for the log and for exceptions ("not reachable", ...).
std::string Describe(const grpc::Status& status);

// Throws Rpc::CommunicationException naming the peer and the failure.
[[noreturn]] void ThrowFailure(const SIpcEndpoint& endpoint, const grpc::Status& status);

// A request fails at once when the peer is absent and gives up after timeout,
// or earlier when the request this thread serves has an earlier deadline.
void PrepareContext(grpc::ClientContext& context, std::chrono::seconds timeout);

// Whether the peer's socket file exists: a failed connection to an existing
// socket is worth one more try, an absent one is not.
bool PeerSocketExists(const SIpcEndpoint& endpoint);

// How long that one more try may wait for the connection.
constexpr std::chrono::seconds kReconnectWindow{2};

} // namespace IpcGrpc
