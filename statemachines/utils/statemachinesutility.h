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
// accepted the request, before its transition has finished: a client sends
// its next request once the state it waits for is reported.
//
// The wait ends at the deadline of the IPC request being served
// (CRequestDeadline): a request still queued then is answered Illegal and
// dropped by the machine, so that it never takes effect after its client
// gave up.
ipc::MResult IEnableCall(IHsmInterface& machine);
ipc::MResult IDisableCall(IHsmInterface& machine);

namespace StatemachinesUtility {

// What the wiring logs: the request names at the given level, the state
// report names (the callbacks' own names) at the same level, the alive tick
// at trace level.
struct SWiringLog {
    Log::ELogLevel level;
    const char* enableRequest;
    const char* disableRequest;
    const char* alive;
};

// Plain wiring: every line at trace level.
inline constexpr SWiringLog kTraceWiring{Log::trace, "IEnableCall", "IDisableCall", "ExtSendAlive"};
// The daemon's wiring: requests and state reports at info level.
inline constexpr SWiringLog kDaemonWiring{Log::info, "ITarvControlEnable", "ITarvControlDisable", "Alive"};

// A response callback that reports one lifecycle state through the service.
template <typename Service>
std::function<void()> StateSender(const char* name, std::weak_ptr<Service> service, ipc::MState::EState state,
                                  Log::ELogLevel level = Log::trace)
{
    return [name, service = std::move(service), state, level] {
        TLOG(level, "{}", name);
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
                            const std::shared_ptr<IHsmInterface>& machine,
                            const StatemachinesUtility::SWiringLog& log = StatemachinesUtility::kTraceWiring)
{
    using StatemachinesUtility::StateSender;

    service->mEnableHandler = [machine, level = log.level, name = log.enableRequest] {
        TLOG(level, "{}", name);
        return IEnableCall(*machine);
    };
    service->mDisableHandler = [machine, level = log.level, name = log.disableRequest] {
        TLOG(level, "{}", name);
        return IDisableCall(*machine);
    };

    std::weak_ptr<Service> weak = service;
    handler->ExtUninitializedRsp = StateSender("ExtUninitializedRsp", weak, ipc::MState::Uninitialized, log.level);
    handler->ExtDisabledRsp = StateSender("ExtDisabledRsp", weak, ipc::MState::Disabled, log.level);
    handler->ExtEnabledRsp = StateSender("ExtEnabledRsp", weak, ipc::MState::Enabled, log.level);
    handler->ExtErrorRsp = StateSender("ExtErrorRsp", weak, ipc::MState::Error, log.level);
    handler->ExtFatalErrorRsp = StateSender("ExtFatalErrorRsp", weak, ipc::MState::FatalError, log.level);

    handler->mAliveCallback = [weak, name = log.alive] {
        TLOG_TRACE("{}", name);
        if (auto s = weak.lock()) {
            s->NotifyAlive();
        }
    };
}
