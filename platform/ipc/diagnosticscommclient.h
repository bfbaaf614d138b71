#pragma once
// Connection of the process to the station's diagnostics collector. Signals
// are sent through the class-level functions; until Initialize has been
// called (or after Terminate) a send is dropped quietly and reports false.
// Sends never block on an absent collector.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

class GrpcBackend;
template <typename Backend>
class AppCommunicationHost;

class CDiagnosticsCommClient {
public:
    using Value = std::variant<bool, std::int32_t, std::uint32_t, std::int64_t, float, std::string,
                               std::vector<std::int32_t>, std::vector<std::uint32_t>, std::vector<float>,
                               std::vector<std::string>>;
    struct SSample {
        std::uint32_t identifier = 0;
        Value value;
        std::chrono::system_clock::time_point timestamp;
    };
    // Receives every sample; returns whether it was accepted for delivery.
    using Sink = std::function<bool(const SSample&)>;

    // Installs the sink every signal send goes through; an empty sink turns
    // sending off. The IPC host installs its transport here; tests install a recorder.
    static void SetSink(Sink sink);
    static bool Send(const SSample& sample);

    // Connects sending to the host's "Diagnostics" client: samples are
    // queued and delivered by a thread of their own, so a send never blocks;
    // an absent collector is retried with back-off. Replaces any earlier sink.
    static void Initialize(const std::shared_ptr<AppCommunicationHost<GrpcBackend>>& host);

    // Stops delivery: later sends are dropped.
    static void Terminate();
};
