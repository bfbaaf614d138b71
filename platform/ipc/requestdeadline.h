#pragma once
// The deadline of the IPC request the calling thread is serving.
//
// The IPC host opens a scope around every request handler it calls; code
// that may wait on the handler's behalf (a lifecycle request queued behind a
// long action, say) bounds its wait by Current() and abandons the work once
// the client has given up, instead of letting it take effect later.

#include <chrono>

class CRequestDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // The deadline of the request served on this thread; Clock::time_point::max()
    // when the thread serves none or the client set no deadline.
    static Clock::time_point Current();

    // Sets the calling thread's deadline for the scope's lifetime and restores
    // the previous one on destruction.
    class CScope {
    public:
        explicit CScope(Clock::time_point deadline);
        ~CScope();
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        Clock::time_point mPrevious;
    };
};
