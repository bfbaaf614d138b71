#include "src/components/lifecycle/tarvstatusrequests.h"

#include "platform/log/log.h"

#include <algorithm>
#include <utility>
#include <vector>

CTarvStatusRequests::CTarvStatusRequests(std::shared_ptr<ITarvConfig> config, const STarvHandlerSet& handlers,
                                         std::shared_ptr<ITarvClient> statusSink)
    : mConfig(std::move(config)), mHandlers(handlers), mStatusSink(std::move(statusSink))
{
}

bool CTarvStatusRequests::Answer(const ipc::MNetInterfaces& interfaces) const
{
    struct SRow {
        EConfigKey hardwareKey;
        std::shared_ptr<CTarvConnectionHandlerBase> handler;
        const char* absent;
    };
    // A request may name an interface many times, or carry any number of
    // values no interface has: each interface is answered and each complaint
    // logged once per request, however long the list.
    std::vector<int> asked; // in the order of the request
    std::size_t unknown = 0;
    for (const int value : interfaces.interfaces()) {
        switch (value) {
        case ipc::EUap0:
        case ipc::EEth0:
        case ipc::EWlan0:
        case ipc::ELte0:
        case ipc::EPlc0:
            if (std::find(asked.begin(), asked.end(), value) == asked.end()) {
                asked.push_back(value);
            }
            break;
        default: ++unknown; break;
        }
    }
    if (unknown > 0) {
        TLOG_WARN("Unknown interface: {} of the {} values requested ignored", unknown, interfaces.interfaces_size());
    }
    bool result = true;
    for (const int value : asked) {
        SRow row{};
        switch (value) {
        case ipc::EUap0: row = {HwHasWlan, mHandlers.ap, "AP interface is not supported"}; break;
        case ipc::EEth0: row = {HwHasEthernet, mHandlers.eth, "Ethernet interface is not supported"}; break;
        case ipc::EWlan0: row = {HwHasWlan, mHandlers.wlan, "WLAN interface is not supported"}; break;
        case ipc::ELte0: row = {HwHasLte, mHandlers.lte, "LTE interface is not supported"}; break;
        default: row = {HwHasPlc, mHandlers.plc, "PLC interface is not supported"}; break;
        }
        if (!mConfig->GetBool(row.hardwareKey) || !row.handler) {
            TLOG_WARN("{}", row.absent);
            result = false;
            continue;
        }
        mStatusSink->NotifyStatus(row.handler->GetStatus());
    }
    return result;
}

