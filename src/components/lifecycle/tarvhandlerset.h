#pragma once
// The connection handlers and their collaborators that the lifecycle actions
// drive. The common operations go through the handler base; the few
// interface-specific ones through the control interfaces, which the concrete
// handlers implement.

#include "src/components/handlers/itarvethcontrol.h"
#include "src/components/handlers/itarvltecontrol.h"
#include "src/components/handlers/itarvwlancontrol.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/links/itarverrorhandler.h"
#include "src/components/system/iprocessowner.h"
#include "src/components/system/itarvinterfacesfileeditor.h"

#include <memory>

struct STarvHandlerSet {
    std::shared_ptr<CTarvConnectionHandlerBase> ap;
    std::shared_ptr<CTarvConnectionHandlerBase> eth;
    std::shared_ptr<CTarvConnectionHandlerBase> wlan;
    std::shared_ptr<CTarvConnectionHandlerBase> lte;
    std::shared_ptr<CTarvConnectionHandlerBase> plc;
    // The same objects as eth, wlan and lte, seen through their own operations.
    std::shared_ptr<ITarvEthControl> ethControl;
    std::shared_ptr<ITarvWlanControl> wlanControl;
    std::shared_ptr<ITarvLteControl> lteControl;
    std::shared_ptr<ITarvErrorHandler> errorHandler;
    std::shared_ptr<ITarvInterfacesFileEditor> interfacesFileEditor;
    // Ends the interface commands an earlier run left behind; empty: none
    // are looked for.
    std::shared_ptr<IProcessOwner> processOwner = nullptr;

    // Whether every member but the optional process owner is set.
    bool IsComplete() const
    {
        return ap && eth && wlan && lte && plc && ethControl && wlanControl && lteControl && errorHandler &&
               interfacesFileEditor;
    }
};
