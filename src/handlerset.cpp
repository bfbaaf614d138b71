#include "src/handlerset.h"

#include "src/absenthandler.h"
#include "src/components/handlers/tarvethhandler.h"

STarvHandlerSet MakeHandlerSet(const SHandlerParts& parts)
{
    STarvHandlerSet set;
    set.errorHandler = parts.errorHandler;
    set.interfacesFileEditor = parts.interfacesFileEditor;

    // Not in this build yet: each stand-in is replaced by the real handler
    // (and, for WLAN and LTE, the control interface it implements).
    auto ap = std::make_shared<CAbsentHandler>(ipc::EUap0, parts.config);
    set.ap = ap;

    auto eth = std::make_shared<CTarvEthHandler>(parts.config, parts.runCommand, parts.errorHandler,
                                                 parts.interfacesFileEditor, parts.netlink, parts.hostnameManager,
                                                 parts.ethDnsManager);
    set.eth = eth;
    set.ethControl = eth;

    auto wlan = std::make_shared<CAbsentHandler>(ipc::EWlan0, parts.config);
    set.wlan = wlan;
    set.wlanControl = wlan;

    auto lte = std::make_shared<CAbsentHandler>(ipc::ELte0, parts.config);
    set.lte = lte;
    set.lteControl = lte;

    set.plc = std::make_shared<CAbsentHandler>(ipc::EPlc0, parts.config);
    return set;
}
