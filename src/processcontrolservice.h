#pragma once
// The process-control service of the daemon. Request handlers are installed
// by the wiring; notification senders by the IPC host when the service is added.

#include "platform/ipc/iprocesscontrol.h"
#include "platform/ipc/iservedprocesscontrol.h"

#include <functional>
#include <utility>

class CProcessControlService : public IServedProcessControl, public IProcessControl {
public:
    ipc::MResult Enable() override { return mEnableHandler(); }
    ipc::MResult Disable() override { return mDisableHandler(); }
    void NotifyState(const ipc::MState& state) override { mStateSender(state); }
    void NotifyAlive() override { mAliveSender(); }
    void InstallSenders(SSenders senders) override
    {
        mStateSender = std::move(senders.state);
        mAliveSender = std::move(senders.alive);
    }

    // Request handlers; calling one that was never installed throws std::bad_function_call.
    std::function<ipc::MResult()> mEnableHandler;
    std::function<ipc::MResult()> mDisableHandler;
    // Notification senders.
    std::function<void(const ipc::MState&)> mStateSender;
    std::function<void()> mAliveSender;
};
