#pragma once
// Bounds and timeouts of the gRPC transport.

#include <chrono>
#include <cstddef>

namespace IpcGrpc {

using Clock = std::chrono::steady_clock;

// Bound of the per-subscriber queue of notifications not yet written.
constexpr std::size_t kSubscriberQueueLimit = 256;
// Subscribers per service; further subscriptions are refused.
constexpr std::size_t kSubscriberLimit = 64;
// Bound of the queue of received notifications not yet delivered to listeners.
constexpr std::size_t kDeliveryQueueLimit = 1024;
constexpr int kMaxRequestThreads = 32;
constexpr auto kRequestTimeout = std::chrono::seconds(30);
constexpr auto kPeerRequestTimeout = std::chrono::seconds(5);
constexpr auto kResubscribeMin = std::chrono::milliseconds(100);
constexpr auto kResubscribeMax = std::chrono::seconds(5);
constexpr auto kShutdownGrace = std::chrono::seconds(2);

} // namespace IpcGrpc
