#include "platform/ipc/diagnosticsforwarder.h"

#include "platform/ipc/grpcbackend.h"

#include <algorithm>
#include <string>

namespace {
void LogVia(void (Rpc::ILogger::*write)(const std::string&), const std::string& text)
{
    if (const auto logger = GrpcBackend::GetLogger()) {
        ((*logger).*write)(text);
    }
}
} // namespace

CDiagnosticsForwarder::CDiagnosticsForwarder(Transmit transmit, SSettings settings)
    : mTransmit(std::move(transmit)), mSettings(settings), mThread(&CDiagnosticsForwarder::Run, this)
{
}

CDiagnosticsForwarder::~CDiagnosticsForwarder()
{
    Stop();
}

bool CDiagnosticsForwarder::Enqueue(const CDiagnosticsCommClient::SSample& sample)
{
    std::lock_guard lock(mMutex);
    if (mStopped) {
        return false;
    }
    if (mQueue.size() >= std::max<std::size_t>(mSettings.capacity, 1)) {
        mQueue.pop_front();
        ++mDropped;
    }
    mQueue.push_back({sample});
    mWake.notify_one();
    return true;
}

void CDiagnosticsForwarder::Stop()
{
    {
        std::lock_guard lock(mMutex);
        if (mStopped && !mThread.joinable()) {
            return;
        }
        mStopped = true;
        mQueue.clear();
        mWake.notify_all();
    }
    if (mThread.joinable() && mThread.get_id() != std::this_thread::get_id()) {
        mThread.join();
    }
}

std::size_t CDiagnosticsForwarder::Dropped() const
{
    std::lock_guard lock(mMutex);
    return mDropped;
}

std::size_t CDiagnosticsForwarder::Pending() const
{
    std::lock_guard lock(mMutex);
    return mQueue.size();
}

void CDiagnosticsForwarder::Run()
{
    auto backoff = mSettings.minBackoff;
    bool unreachable = false;
    std::unique_lock lock(mMutex);
    for (;;) {
        mWake.wait(lock, [&] { return mStopped || !mQueue.empty(); });
        if (mStopped) {
            return;
        }
        SEntry entry = std::move(mQueue.front());
        mQueue.pop_front();
        lock.unlock();
        const bool delivered = mTransmit(entry.sample);
        lock.lock();
        if (delivered) {
            if (unreachable) {
                unreachable = false;
                const std::size_t dropped = mDropped;
                lock.unlock();
                LogVia(&Rpc::ILogger::Info, "Diagnostics collector reachable again (" + std::to_string(dropped) +
                                                " signals dropped so far)");
                lock.lock();
            }
            backoff = mSettings.minBackoff;
            continue;
        }
        // Back to the head of the queue for the retry, unless newer samples
        // filled the queue meanwhile: then it is the oldest, and dropped.
        if (mStopped) {
            return;
        }
        if (mQueue.size() < std::max<std::size_t>(mSettings.capacity, 1)) {
            mQueue.push_front(std::move(entry));
        } else {
            ++mDropped;
        }
        if (!unreachable) {
            unreachable = true;
            lock.unlock();
            LogVia(&Rpc::ILogger::Debug, "Diagnostics collector not reachable; keeping signals and retrying");
            lock.lock();
        }
        mWake.wait_for(lock, backoff, [&] { return mStopped; });
        backoff = std::min(backoff * 2, mSettings.maxBackoff);
    }
}
