#pragma once
// When to try to recover after an error. The first retry comes kInitialDelay
// after the error; each further error before a recovery succeeds doubles the
// delay, up to kMaximumDelay. A retry repeats at its delay until it is
// cancelled, so a retry that arrives while the machine is not ready for it is
// not the last one.
//
// Used on the machine's thread only (arming, cancelling, resetting); the
// retry itself runs on the given worker.

#include "platform/worker/worker.h"

#include <chrono>
#include <functional>

class CRecoveryBackoff {
public:
    using duration = IClock::duration;

    static constexpr std::chrono::seconds kInitialDelay{5};
    static constexpr std::chrono::minutes kMaximumDelay{5};

    explicit CRecoveryBackoff(duration initial = kInitialDelay, duration maximum = kMaximumDelay);

    // Cancels a pending retry and schedules retry on the worker after the
    // current delay (repeating at that delay); the next Arm waits twice as long.
    void Arm(CWorker& worker, std::function<void()> retry);
    // Stops the pending retry, if any; the delay stays as it is.
    void Cancel();
    // A recovery succeeded: cancels the retry, the next Arm waits kInitialDelay again.
    void Reset();

private:
    duration mInitial;
    duration mMaximum;
    duration mNext;
    CWorker::CallHandle mCall;
};
