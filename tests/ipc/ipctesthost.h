#pragma once
// Test helpers: an IPC host in a temporary root running its two threads,
// and recorders of notifications.

#include "platform/ipc/appcommunicationhost.h"
#include "tests/support/tempdir.h"

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <utility>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace IpcTest {

using Host = AppCommunicationHost<GrpcBackend>;

// Writes etc/iipc.json of the temporary root with every name on its own socket.
void WriteConfiguration(const TestSupport::CTempDir& root);

// A host whose RunServer and HandleClientNotifications threads run until Stop.
class CRunningHost {
public:
    explicit CRunningHost(const TestSupport::CTempDir& root, std::shared_ptr<IIpcObserver> observer = nullptr);
    ~CRunningHost();
    // Binds the added services and starts both threads.
    void Start();
    void Stop();
    const std::shared_ptr<Host>& Get() const { return mHost; }

private:
    std::shared_ptr<Host> mHost;
    std::thread mServer;
    std::thread mClients;
};

// Waits for a predicate over recorded values, bounded in time.
template <typename T>
class CRecorder {
public:
    void Add(T value)
    {
        std::lock_guard lock(mMutex);
        mValues.push_back(std::move(value));
        mChanged.notify_all();
    }
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return mValues.size() >= count; });
    }
    template <typename Predicate>
    bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return predicate(mValues); });
    }
    std::vector<T> Values() const
    {
        std::lock_guard lock(mMutex);
        return mValues;
    }

private:
    mutable std::mutex mMutex; // guards mValues
    std::condition_variable mChanged;
    std::vector<T> mValues;
};

// Follows the subscriber counts the host reports.
class CSubscribers : public IIpcObserver, public CRecorder<std::pair<std::string, std::size_t>> {
public:
    void SubscribersChanged(const std::string& service, std::size_t count) override { Add({service, count}); }
    // Waits until the last count reported for the service is count.
    bool WaitFor(const std::string& service, std::size_t count)
    {
        return WaitUntil([&](const auto& values) {
            const auto last =
                std::find_if(values.rbegin(), values.rend(), [&](const auto& v) { return v.first == service; });
            return last != values.rend() && last->second == count;
        });
    }
};

} // namespace IpcTest
