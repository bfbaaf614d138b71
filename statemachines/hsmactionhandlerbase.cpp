#include "statemachines/hsmactionhandlerbase.h"

#include <stdexcept>

void CHsmActionHandlerBase::SetHsmInterface(IHsmInterface* hsm) noexcept
{
    mHsm.store(hsm, std::memory_order_release);
}

void CHsmActionHandlerBase::ResetHsmInterface(IHsmInterface* hsm) noexcept
{
    std::unique_lock lock(mPosting);
    mHsm.compare_exchange_strong(hsm, nullptr, std::memory_order_acq_rel);
}

IHsmInterface* CHsmActionHandlerBase::GetHsmInterface() const noexcept
{
    return mHsm.load(std::memory_order_acquire);
}

void CHsmActionHandlerBase::PostEvent(std::shared_ptr<IHsmEvent> event) const
{
    std::shared_lock lock(mPosting);
    IHsmInterface* hsm = GetHsmInterface();
    if (hsm == nullptr) {
        throw std::logic_error("CHsmActionHandlerBase: IHsmInterface not set");
    }
    hsm->PostEvent(std::move(event));
}
