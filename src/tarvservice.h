#pragma once
// The daemon's network service. Request handlers are installed by the
// wiring; notification senders by the IPC host when the service is added.

#include "platform/ipc/iservedtarv.h"
#include "platform/ipc/itarvclient.h"

#include <functional>
#include <utility>

class CTarvService : public IServedTarv, public ITarvClient {
public:
    // Calling a request handler that was never installed throws std::bad_function_call.
    ipc::MScanWlan ScanWlan() override { return mScanWlanHandler(); }
    bool Validate() override { return mValidateHandler(); }
    bool TriggerNotification(const ipc::MNetInterfaces& interfaces) override { return mTriggerHandler(interfaces); }

    void NotifyStatus(const ipc::MNetStatus& status) override;
    void NotifyFloat(float value) override { mFloatSender(value); }
    void InstallSenders(SSenders senders) override
    {
        mStatusSender = std::move(senders.status);
        mFloatSender = std::move(senders.value);
    }

    // Request handlers.
    std::function<ipc::MScanWlan()> mScanWlanHandler;
    std::function<bool()> mValidateHandler;
    std::function<bool(const ipc::MNetInterfaces&)> mTriggerHandler;
    // Notification senders.
    std::function<void(const ipc::MNetStatus&)> mStatusSender;
    std::function<void(float)> mFloatSender;
};
