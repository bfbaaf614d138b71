#pragma once
// Bounds the requests one service serves at once. Request handlers may block
// (a lifecycle request waits for the state machine), so every service gets
// its own handful of running and waiting places: a flood of requests to one
// service is refused at once instead of taking the request threads every
// other service needs.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace IpcGrpc {

class CRequestGate {
public:
    using Clock = std::chrono::steady_clock;

    enum class EAdmission { admitted, busy, expired, cancelled, closed };

    CRequestGate(std::size_t running, std::size_t waiting);
    // Waits until no request is inside (call Close first, so none waits).
    ~CRequestGate();
    CRequestGate(const CRequestGate&) = delete;
    CRequestGate& operator=(const CRequestGate&) = delete;

    // Takes a running place, waiting for one until the deadline. A request
    // whose deadline passed or whose client cancelled (checked when it would
    // be admitted) is not admitted. An admitted request calls Leave.
    EAdmission Enter(Clock::time_point deadline, const std::function<bool()>& cancelled);
    void Leave();
    // Refuses every request from now on, the waiting ones too.
    void Close();

private:
    const std::size_t mMaxRunning;
    const std::size_t mMaxWaiting;
    std::mutex mMutex; // guards the fields below
    std::condition_variable mFreed;
    std::size_t mRunning = 0;
    std::size_t mWaiting = 0;
    bool mClosed = false;
};

} // namespace IpcGrpc
