#pragma once
// Answers a client's status request: the current status of each interface
// the request names, once, however often it is named; values that name no
// interface are counted in one warning.

#include "platform/ipc/itarvclient.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/lifecycle/tarvhandlerset.h"

#include <memory>

class CTarvStatusRequests {
public:
    // handlers is the lifecycle's set, filled before the first request and
    // read-only afterwards; the statuses go to statusSink.
    CTarvStatusRequests(std::shared_ptr<ITarvConfig> config, const STarvHandlerSet& handlers,
                        std::shared_ptr<ITarvClient> statusSink);

    // False when an interface asked for has no hardware (or no handler).
    // Rpc::CommunicationException passes to the caller.
    bool Answer(const ipc::MNetInterfaces& interfaces) const;

private:
    // Set once at construction.
    const std::shared_ptr<ITarvConfig> mConfig;
    const STarvHandlerSet& mHandlers;
    const std::shared_ptr<ITarvClient> mStatusSink;
};
