#include "statemachines/utils/statemachinesutility.h"

#include "statemachines/tarvhsmevents.h"
#include "platform/ipc/requestdeadline.h"

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
    const std::weak_ptr<Event> posted = event;
    machine.PostEvent(std::move(event));

    ipc::MResult result;
    bool ok = false;
    try {
        // Waits no longer than the client does. A request given up on is
        // dropped by the machine instead of taking effect later, unless its
        // dispatch has already begun: then its outcome follows at once.
        const auto deadline = CRequestDeadline::Current();
        bool abandoned = false;
        if (deadline != CRequestDeadline::Clock::time_point::max() &&
            handled.wait_until(deadline) == std::future_status::timeout) {
            if (const auto queued = posted.lock()) {
                abandoned = queued->Abandon();
            }
        }
        if (abandoned) {
            TLOG_WARN("{} abandoned: its deadline passed before the machine took it", Event::Name());
        } else {
            ok = handled.get();
        }
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
