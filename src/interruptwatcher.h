#pragma once
// Turns SIGINT into a callback on an ordinary thread: the signal handler only
// writes one byte to a pipe (async-signal-safe); a watcher thread reads it
// and calls the callback, which may lock and allocate freely.

#include <atomic>
#include <functional>
#include <thread>

class CInterruptWatcher {
public:
    using Callback = std::function<void(int signalNumber)>;

    CInterruptWatcher() = default;
    CInterruptWatcher(const CInterruptWatcher&) = delete;
    CInterruptWatcher& operator=(const CInterruptWatcher&) = delete;
    ~CInterruptWatcher();

    // Installs the SIGINT handler and starts the watcher thread.
    // Only one watcher may be started at a time in the process.
    void Start(Callback callback);
    // Restores the default action for SIGINT and ends the watcher thread.
    void Stop();

private:
    void Watch();

    Callback mCallback;
    int mPipe[2] = {-1, -1};
    std::thread mThread;
    bool mStarted = false;
};
