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
    mQueue.push_back({mNextSequence++, sample});
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
        const SEntry entry = mQueue.front();
        lock.unlock();
        const bool delivered = mTransmit(entry.sample);
        lock.lock();
        if (delivered) {
            // The sample may have been dropped meanwhile to make room.
            if (!mQueue.empty() && mQueue.front().sequence == entry.sequence) {
                mQueue.pop_front();
            }
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
