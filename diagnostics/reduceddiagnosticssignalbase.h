#pragma once
// A diagnostics signal that is sent only when its value changed noticeably
// or when a period has passed since the last send, so that fast-moving
// measurements (radio values polled every few seconds) do not flood the
// diagnostics collector.
//
// No lock: each instance is used by one thread.

#include "platform/ipc/diagnosticssignal.h"
#include "platform/ipc/signaldefinition.h"
#include "platform/worker/iclock.h"

#include <chrono>
#include <memory>
#include <optional>
#include <utility>

template <typename T>
class CReducedDiagnosticsSignalBase {
public:
    using Period = std::chrono::milliseconds;

    virtual ~CReducedDiagnosticsSignalBase() = default;
    CReducedDiagnosticsSignalBase(const CReducedDiagnosticsSignalBase&) = delete;
    CReducedDiagnosticsSignalBase& operator=(const CReducedDiagnosticsSignalBase&) = delete;

    // Sends value when the period has run out since the last send, or when
    // change detection is on and value is not similar to the last value
    // sent. With neither a period nor change detection every call sends.
    // The first call always sends. Returns the send's result, or nothing
    // when the value was held back.
    std::optional<bool> Send(T value)
    {
        const IClock::time_point now = mClock->Now();
        const bool expired = mPeriod && (!mLastSend || *mLastSend + *mPeriod < now);
        const bool changed = mCompare && (!mLastSend || !IsSimilar(mLastValue, value));
        if (!expired && !changed && (mPeriod || mCompare)) {
            return std::nullopt;
        }
        mLastSend = now;
        mLastValue = value;
        return mSignal.Send(std::move(value));
    }

protected:
    CReducedDiagnosticsSignalBase(const CSignalDefinition<T>* definition, std::optional<Period> period, bool compare,
                                  std::shared_ptr<IClock> clock)
        : mLastValue(definition->GetDefault()), mSignal(definition), mPeriod(period), mCompare(compare),
          mClock(std::move(clock))
    {
    }

    // Whether b is close enough to a to be left unsent.
    virtual bool IsSimilar(const T& a, const T& b) const = 0;

    void SetCompare(bool compare) { mCompare = compare; }

private:
    // Unset until the first send, which therefore always goes out.
    std::optional<IClock::time_point> mLastSend;
    T mLastValue;
    CDiagnosticsSignal<T> mSignal;
    std::optional<Period> mPeriod;
    bool mCompare;
    std::shared_ptr<IClock> mClock;
};
