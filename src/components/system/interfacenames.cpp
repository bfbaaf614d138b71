#include "src/components/system/interfacenames.h"

#include "platform/log/log.h"
#include "src/components/system/tarvexception.h"

std::string IfNameToString(ipc::EIfName name)
{
    switch (name) {
    case ipc::EUap0:
        return Tarv::kUap0;
    case ipc::EEth0:
        return Tarv::kEth0;
    case ipc::EWlan0:
        return Tarv::kWlan0;
    case ipc::ELte0:
        return Tarv::kLte0;
    case ipc::EPlc0:
        return Tarv::kPlc0;
    default:
        break;
    }
    TLOG_ERROR("Unknown Interface");
    throw CTarvException();
}
