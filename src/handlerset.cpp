#include "src/handlerset.h"

#include "platform/serial/serial.h"
#include "platform/sysfs/sysfsaccess.h"
#include "platform/sysfs/sysfsgpio.h"
#include "platform/wifiscan/tarvwifiscan.h"
#include "src/components/handlers/hostsystem.h"
#include "src/components/handlers/tarvaphandler.h"
#include "src/components/handlers/tarvethhandler.h"
#include "src/components/handlers/tarvltehandler.h"
#include "src/components/handlers/tarvplchandler.h"
#include "src/components/handlers/tarvwlanhandler.h"
#include "src/components/ltemodem/athandler.h"
#include "src/components/ltemodem/modem.h"
#include "src/components/ltemodem/modemstatemachine.h"
#include "src/components/ltemodem/modemstatemachineimpl.h"
#include "src/components/system/processowner.h"
#include "src/components/wlan/wpasupplicanthandler.h"

namespace {

// The modem's serial device, as its driver names it.
constexpr const char* kModemDevice = "/dev/ttyATSERIAL2";

std::shared_ptr<CTarvLteHandler> MakeLteHandler(const SHandlerParts& parts)
{
    auto sysfs = std::make_shared<CSysfsAccess>();
    auto modem = std::make_shared<Modem::CModem>(
        parts.config, std::make_unique<CAtHandler>(std::make_unique<CSerial>(kModemDevice)),
        std::make_unique<CSysfsGpio>(Modem::CModem::kPowerKeyGpio, sysfs),
        std::make_unique<CSysfsGpio>(Modem::CModem::kFastShutdownGpio, sysfs));
    auto machine = std::make_unique<CModemStateMachine>(std::make_unique<CModemStateMachineImpl>(modem));
    return std::make_shared<CTarvLteHandler>(parts, modem, std::move(machine));
}

} // namespace

STarvHandlerSet MakeHandlerSet(const SHandlerParts& parts)
{
    STarvHandlerSet set;
    set.errorHandler = parts.errorHandler;
    set.interfacesFileEditor = parts.interfacesFileEditor;
    set.processOwner = parts.processOwner ? parts.processOwner
                                          : std::make_shared<CProcessOwner>(
                                                parts.hostSystem ? parts.hostSystem : std::make_shared<CHostSystem>(),
                                                parts.clock);

    set.ap = std::make_shared<CTarvApHandler>(parts);

    auto eth = std::make_shared<CTarvEthHandler>(parts);
    set.eth = eth;
    set.ethControl = eth;

    auto wlan = std::make_shared<CTarvWlanHandler>(parts, std::make_shared<CTarvWifiScan>(),
                                                   std::make_shared<CWpaSupplicantHandler>());
    set.wlan = wlan;
    set.wlanControl = wlan;

    auto lte = MakeLteHandler(parts);
    set.lte = lte;
    set.lteControl = lte;

    set.plc = std::make_shared<CTarvPlcHandler>(parts);
    return set;
}
