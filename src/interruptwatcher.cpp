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
// The active watcher's way of writing; set before the handler is installed.
std::atomic<CInterruptWatcher::PipeWrite> gPipeWrite{&::write};
// Handlers between their first and last use of gSignalPipe's descriptor:
// Stop closes the pipe only once this is zero with gSignalPipe cleared.
std::atomic<int> gHandlersRunning{0};

void OnSignal(int signalNumber)
{
    const int savedErrno = errno;
    gHandlersRunning.fetch_add(1);
    const int fd = gSignalPipe.load();
    if (fd >= 0) {
        // Non-blocking: with the pipe full, the byte already waiting wakes
        // the watcher and this signal is dropped instead of hanging here.
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t n = gPipeWrite.load()(fd, &byte, 1);
    }
    gHandlersRunning.fetch_sub(1);
    errno = savedErrno;
}
} // namespace

CInterruptWatcher::CInterruptWatcher(PipeWrite pipeWrite) : mPipeWrite(pipeWrite) {}

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
    const int flags = fcntl(mPipe[1], F_GETFL);
    if (flags < 0 || fcntl(mPipe[1], F_SETFL, flags | O_NONBLOCK) != 0) {
        close(mPipe[0]);
        close(mPipe[1]);
        mPipe[0] = mPipe[1] = -1;
        throw std::runtime_error("cannot make the interrupt pipe non-blocking");
    }
    mCallback = std::move(callback);
    gPipeWrite = mPipeWrite;
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
    // A handler that read the descriptor before it was cleared may still be
    // writing: the descriptor stays open until it is done, so the write
    // never reaches a file that reuses the number.
    while (gHandlersRunning.load() != 0) {
        std::this_thread::yield();
    }
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
