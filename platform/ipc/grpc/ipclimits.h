#pragma once
// Bounds and timeouts of the gRPC transport.

#include <chrono>
#include <cstddef>

namespace IpcGrpc {

using Clock = std::chrono::steady_clock;

// Bound of the per-subscriber queue of notifications not yet written.
constexpr std::size_t kSubscriberQueueLimit = 256;
// Subscribers per service; a further subscription ends the oldest idle one.
constexpr std::size_t kSubscriberLimit = 64;
// Bound of the queue of received notifications not yet delivered to listeners.
constexpr std::size_t kDeliveryQueueLimit = 1024;
// Requests of one service in its handlers at once, and waiting for a turn;
// further ones are refused. Every service together stays below the
// handler pool's threads, so a flood to one service never starves another.
constexpr std::size_t kRunningRequestsPerService = 4;
constexpr std::size_t kWaitingRequestsPerService = 2;
constexpr int kMaxRequestThreads = 40;
constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr auto kPeerRequestTimeout = std::chrono::seconds(5);
constexpr auto kResubscribeMin = std::chrono::milliseconds(100);
constexpr auto kResubscribeMax = std::chrono::seconds(5);
constexpr auto kShutdownGrace = std::chrono::seconds(2);
// Longest wait between two connection attempts to an absent peer; its socket
// appearing cuts the wait short.
constexpr auto kMaxReconnectBackoff = std::chrono::milliseconds(60'000);

} // namespace IpcGrpc
