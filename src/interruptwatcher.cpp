#include "src/interruptwatcher.h"

#include "platform/log/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace {
// Write end of the active watcher's pipe; read in signal context.
std::atomic<int> gSignalPipe{-1};

void OnSignal(int signalNumber)
{
    const int savedErrno = errno;
    const int fd = gSignalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
    }
    errno = savedErrno;
}
} // namespace

CInterruptWatcher::~CInterruptWatcher()
{
    Stop();
}

void CInterruptWatcher::Start(Callback callback)
{
    if (mStarted) {
        return;
    }
    if (pipe2(mPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot create the interrupt pipe");
    }
    mCallback = std::move(callback);
    gSignalPipe = mPipe[1];
    mThread = std::thread(&CInterruptWatcher::Watch, this);
    std::signal(SIGINT, &OnSignal);
    mStarted = true;
}

void CInterruptWatcher::Stop()
{
    if (!mStarted) {
        return;
    }
    std::signal(SIGINT, SIG_DFL);
    gSignalPipe = -1;
    // Closing the write end ends the watcher's read with end-of-file.
    close(mPipe[1]);
    mThread.join();
    close(mPipe[0]);
    mPipe[0] = mPipe[1] = -1;
    mStarted = false;
}

void CInterruptWatcher::Watch()
{
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = read(mPipe[0], &byte, 1);
        if (n == 1) {
            if (mCallback) {
                mCallback(byte);
            }
        } else if (n == 0 || errno != EINTR) {
            return;
        }
    }
}
