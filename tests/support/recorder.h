#pragma once
// Values recorded from any thread, and bounded waits for them.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace TestSupport {

// Values added from any thread; waits for a predicate over them, bounded in time.
template <typename T>
class CRecorder {
public:
    void Add(T value)
    {
        std::lock_guard lock(mMutex);
        mValues.push_back(std::move(value));
        mChanged.notify_all();
    }
    template <typename Predicate>
    bool WaitUntil(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock lock(mMutex);
        return mChanged.wait_for(lock, timeout, [&] { return predicate(mValues); });
    }
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return WaitUntil([count](const std::vector<T>& values) { return values.size() >= count; }, timeout);
    }
    // Waits until the last value recorded is value.
    bool WaitForLast(const T& value)
    {
        return WaitUntil([&](const std::vector<T>& values) { return !values.empty() && values.back() == value; });
    }
    std::vector<T> Values() const
    {
        std::lock_guard lock(mMutex);
        return mValues;
    }
    // The values so far, forgotten.
    std::vector<T> Take()
    {
        std::lock_guard lock(mMutex);
        return std::exchange(mValues, {});
    }

private:
    mutable std::mutex mMutex; // guards mValues
    std::condition_variable mChanged;
    std::vector<T> mValues;
};

} // namespace TestSupport
