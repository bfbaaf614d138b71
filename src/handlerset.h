#pragma once
// The one place where the daemon's connection handlers are built.

#include "platform/ipc/iboardcontrol.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/handlers/ihostsystem.h"
#include "src/components/lifecycle/tarvhandlerset.h"
#include "src/components/links/itarvnetlink.h"
#include "src/components/system/ihostnamemanager.h"
#include "src/components/system/iruncommand.h"
#include "src/components/system/itarvdnsmanager.h"

#include <memory>

// What the handlers are built from.
struct SHandlerParts {
    std::shared_ptr<ITarvConfig> config;
    std::shared_ptr<IRunCommand> runCommand;
    std::shared_ptr<ITarvNetlink> netlink;
    std::shared_ptr<ITarvErrorHandler> errorHandler;
    std::shared_ptr<ITarvInterfacesFileEditor> interfacesFileEditor;
    std::shared_ptr<IHostnameManager> hostnameManager;
    std::shared_ptr<ITarvDnsManager> ethDnsManager;
    std::shared_ptr<ITarvDnsManager> lteDnsManager;
    std::shared_ptr<IBoardControl> boardControl;
};

// Builds the five handlers in their order: access point, Ethernet, WLAN
// station, LTE, powerline.
STarvHandlerSet MakeHandlerSet(const SHandlerParts& parts);
