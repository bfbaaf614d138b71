#include "statemachines/ihsmevent.h"

std::future<bool> IHsmEvent::GetFuture()
{
    if ((mFlags.load(std::memory_order_acquire) & kFutureTaken) != 0) {
        throw std::future_error(std::future_errc::future_already_retrieved);
    }
    mCompletion.emplace();
    std::future<bool> future = mCompletion->get_future();
    const unsigned before = mFlags.fetch_or(kFutureTaken, std::memory_order_acq_rel);
    if ((before & kCompleted) != 0) {
        mCompletion->set_value((before & kHandled) != 0);
    }
    return future;
}

void IHsmEvent::Complete(bool handled)
{
    unsigned before = mFlags.load(std::memory_order_acquire);
    do {
        if ((before & kCompleted) != 0) {
            return;
        }
    } while (!mFlags.compare_exchange_weak(before, before | kCompleted | (handled ? kHandled : 0U),
                                           std::memory_order_acq_rel, std::memory_order_acquire));
    if ((before & kFutureTaken) != 0) {
        mCompletion->set_value(handled);
    }
}

bool IHsmEvent::Abandon()
{
    const unsigned before = mFlags.fetch_or(kAbandoned, std::memory_order_acq_rel);
    if ((before & (kClaimed | kCompleted)) != 0) {
        // Already in dispatch (or done): withdraw the mark, it changes nothing.
        mFlags.fetch_and(~kAbandoned, std::memory_order_acq_rel);
        return false;
    }
    return true;
}

bool IHsmEvent::Claim()
{
    const unsigned before = mFlags.fetch_or(kClaimed, std::memory_order_acq_rel);
    return (before & kAbandoned) == 0;
}
