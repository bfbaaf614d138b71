#pragma once
// What the interface handlers are built from: the collaborators they share.
// A handler takes what it needs; a part it does not use may stay empty.

#include "platform/ipc/iboardcontrol.h"
#include "platform/worker/iclock.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/handlers/ihostsystem.h"
#include "src/components/links/itarverrorhandler.h"
#include "src/components/links/itarvnetlink.h"
#include "src/components/system/ihostnamemanager.h"
#include "src/components/system/iprocessowner.h"
#include "src/components/system/iruncommand.h"
#include "src/components/system/itarvdnsmanager.h"
#include "src/components/system/itarvinterfacesfileeditor.h"

#include <memory>

struct SHandlerParts {
    std::shared_ptr<ITarvConfig> config = nullptr;
    std::shared_ptr<IRunCommand> runCommand = nullptr;
    std::shared_ptr<ITarvNetlink> netlink = nullptr;
    std::shared_ptr<ITarvErrorHandler> errorHandler = nullptr;
    std::shared_ptr<ITarvInterfacesFileEditor> interfacesFileEditor = nullptr;
    std::shared_ptr<IHostnameManager> hostnameManager = nullptr;
    std::shared_ptr<ITarvDnsManager> ethDnsManager = nullptr;
    std::shared_ptr<ITarvDnsManager> lteDnsManager = nullptr;
    std::shared_ptr<IBoardControl> boardControl = nullptr;
    // Empty: the steady clock, the running system, and a process owner
    // over that system.
    std::shared_ptr<IClock> clock = nullptr;
    std::shared_ptr<IHostSystem> hostSystem = nullptr;
    std::shared_ptr<IProcessOwner> processOwner = nullptr;
};
