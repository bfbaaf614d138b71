#pragma once
// Turns SIGINT into a callback on an ordinary thread: the signal handler only
// writes one byte to a pipe (async-signal-safe); a watcher thread reads it
// and calls the callback, which may lock and allocate freely.

#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

class CInterruptWatcher {
public:
    using Callback = std::function<void(int signalNumber)>;
    // How the signal handler writes its byte into the pipe: write(2), or in
    // tests a function that holds the handler in the middle of its write.
    using PipeWrite = ssize_t (*)(int fd, const void* buffer, std::size_t count);

    explicit CInterruptWatcher(PipeWrite pipeWrite = &::write);
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

    PipeWrite mPipeWrite;
    Callback mCallback;
    int mPipe[2] = {-1, -1};
    std::thread mThread;
    bool mStarted = false;
};
