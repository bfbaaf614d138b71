#pragma once
// The --timeout of one tarvctl run: a watch thread that calls the expiry
// action when the daemon has not answered in time. The IPC library's own
// request deadline is fixed and long; a command line wants its own.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CTarvCtlDeadline {
public:
    // onExpiry runs on the watch thread with the armed duration; it normally
    // reports and ends the process.
    explicit CTarvCtlDeadline(std::function<void(std::chrono::seconds)> onExpiry);
    ~CTarvCtlDeadline();
    CTarvCtlDeadline(const CTarvCtlDeadline&) = delete;
    CTarvCtlDeadline& operator=(const CTarvCtlDeadline&) = delete;

    // Starts (or restarts) the count from now.
    void Arm(std::chrono::seconds timeout);
    void Disarm();

private:
    void Watch();

    const std::function<void(std::chrono::seconds)> mOnExpiry;
    std::mutex mMutex;                           // guards the three fields below
    std::condition_variable mChanged;
    std::chrono::steady_clock::time_point mDeadline = std::chrono::steady_clock::time_point::max();
    std::chrono::seconds mTimeout{0};
    bool mStop = false;
    std::thread mThread;                         // last member: starts once the others exist
};
