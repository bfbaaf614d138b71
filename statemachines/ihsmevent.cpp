#include "statemachines/ihsmevent.h"

std::future<bool> IHsmEvent::GetFuture()
{
    return mCompletion.get_future();
}

void IHsmEvent::Complete(bool handled)
{
    if (!mCompleted.exchange(true, std::memory_order_acq_rel)) {
        mCompletion.set_value(handled);
    }
}
