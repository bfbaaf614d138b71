#include "statemachines/recoverybackoff.h"

#include "platform/log/log.h"

#include <algorithm>
#include <stdexcept>

CRecoveryBackoff::CRecoveryBackoff(duration initial, duration maximum)
    : mInitial(initial), mMaximum(maximum), mNext(initial)
{
    if (initial <= duration::zero() || maximum < initial) {
        throw std::invalid_argument("CRecoveryBackoff: delays must be positive and initial <= maximum");
    }
}

void CRecoveryBackoff::Arm(CWorker& worker, std::function<void()> retry)
{
    Cancel();
    const duration delay = mNext;
    TLOG_INFO("Recovery attempt in {} ms", std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
    mCall = worker.AddCall(std::move(retry), worker.Clock().Now() + delay, delay);
    mNext = std::min(delay * 2, mMaximum);
}

void CRecoveryBackoff::Cancel()
{
    if (mCall) {
        mCall->Cancel();
        mCall.reset();
    }
}

void CRecoveryBackoff::Reset()
{
    Cancel();
    mNext = mInitial;
}
