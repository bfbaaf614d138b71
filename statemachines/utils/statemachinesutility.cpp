#include "statemachines/utils/statemachinesutility.h"

#include "statemachines/tarvhsmevents.h"

#include <future>

namespace {

template <typename Event>
ipc::MResult BlockingRequest(IHsmInterface& machine)
{
    auto event = std::make_shared<Event>();
    std::future<bool> handled = event->GetFuture();
    // The machine holds the only reference from here on: if it is destroyed
    // with the request still queued, the future reports a broken promise
    // instead of waiting forever.
    machine.PostEvent(std::move(event));

    ipc::MResult result;
    bool ok = false;
    try {
        ok = handled.get();
    } catch (const std::future_error& e) {
        TLOG_WARN("{} not dispatched: {}", Event::Name(), e.what());
    }
    result.set_result(ok ? ipc::MResult::Ok : ipc::MResult::Illegal);
    return result;
}

} // namespace

ipc::MResult IEnableCall(IHsmInterface& machine)
{
    return BlockingRequest<TarvHsm::ExtEnableReq>(machine);
}

ipc::MResult IDisableCall(IHsmInterface& machine)
{
    return BlockingRequest<TarvHsm::ExtDisableReq>(machine);
}
