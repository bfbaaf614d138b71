#pragma once
// Hands diagnostics samples to a transmit function on a thread of its own,
// through a bounded queue: the sender never blocks. When the collector cannot
// be reached the sample stays queued and is retried with a growing back-off;
// when the queue is full the oldest sample is dropped and counted.

#include "platform/ipc/diagnosticscommclient.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class CDiagnosticsForwarder {
public:
    // Blocking delivery of one sample; false when the collector could not be reached.
    using Transmit = std::function<bool(const CDiagnosticsCommClient::SSample&)>;

    struct SSettings {
        std::size_t capacity = 512;
        std::chrono::milliseconds minBackoff{250};
        std::chrono::milliseconds maxBackoff{30000};
    };

    CDiagnosticsForwarder(Transmit transmit, SSettings settings);
    ~CDiagnosticsForwarder();
    CDiagnosticsForwarder(const CDiagnosticsForwarder&) = delete;
    CDiagnosticsForwarder& operator=(const CDiagnosticsForwarder&) = delete;

    // Queues the sample; false after Stop.
    bool Enqueue(const CDiagnosticsCommClient::SSample& sample);
    // Ends the thread; samples still queued are dropped. Idempotent.
    void Stop();

    std::size_t Dropped() const;
    std::size_t Pending() const;

private:
    struct SEntry {
        CDiagnosticsCommClient::SSample sample;
    };

    void Run();

    const Transmit mTransmit;
    const SSettings mSettings;
    mutable std::mutex mMutex; // guards the fields below
    std::condition_variable mWake;
    std::deque<SEntry> mQueue; // samples waiting; the one being delivered is not in it
    std::size_t mDropped = 0;
    bool mStopped = false;
    std::thread mThread; // started last, after every field it uses
};
