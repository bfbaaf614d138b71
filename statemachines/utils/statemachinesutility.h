#pragma once
// Blocking lifecycle requests and their wiring to the process-control service.

#include "statemachines/hsmalive.h"
#include "statemachines/ihsminterface.h"
#include "platform/log/log.h"
#include "proto/messages.pb.h"

#include <memory>

// Post ExtEnableReq / ExtDisableReq and wait until the machine has dispatched
// it. Ok when a state handled it, Illegal when none did or when the machine
// went away with the request still queued. They return as soon as the state
// accepted the request, before its transition has finished.
ipc::MResult IEnableCall(IHsmInterface& machine);
ipc::MResult IDisableCall(IHsmInterface& machine);

namespace StatemachinesUtility {

// A response callback that reports one lifecycle state through the service.
template <typename Service>
std::function<void()> StateSender(const char* name, std::weak_ptr<Service> service, ipc::MState::EState state)
{
    return [name, service = std::move(service), state] {
        TLOG_TRACE("{}", name);
        if (auto s = service.lock()) {
            ipc::MState message;
            message.set_state(state);
            s->NotifyState(message);
        }
    };
}

} // namespace StatemachinesUtility

// Connects the service's enable and disable requests to the machine, and the
// handler's state reports and alive ticks to the service's notifications.
//
// The request handlers own the machine (which owns the handler); the
// handler's callbacks hold the service only weakly, since the service owning
// the machine owning the handler owning the service would never be freed.
// Once the service is released, reports are dropped.
template <typename Handler, typename Service>
void ConnectIProcessControl(const std::shared_ptr<Handler>& handler, const std::shared_ptr<Service>& service,
                            const std::shared_ptr<IHsmInterface>& machine)
{
    using StatemachinesUtility::StateSender;

    service->mEnableHandler = [machine] {
        TLOG_TRACE("IEnableCall");
        return IEnableCall(*machine);
    };
    service->mDisableHandler = [machine] {
        TLOG_TRACE("IDisableCall");
        return IDisableCall(*machine);
    };

    std::weak_ptr<Service> weak = service;
    handler->ExtUninitializedRsp = StateSender("ExtUninitializedRsp", weak, ipc::MState::Uninitialized);
    handler->ExtDisabledRsp = StateSender("ExtDisabledRsp", weak, ipc::MState::Disabled);
    handler->ExtEnabledRsp = StateSender("ExtEnabledRsp", weak, ipc::MState::Enabled);
    handler->ExtErrorRsp = StateSender("ExtErrorRsp", weak, ipc::MState::Error);
    handler->ExtFatalErrorRsp = StateSender("ExtFatalErrorRsp", weak, ipc::MState::FatalError);

    handler->mAliveCallback = [weak] {
        TLOG_TRACE("ExtSendAlive");
        if (auto s = weak.lock()) {
            s->NotifyAlive();
        }
    };
}
