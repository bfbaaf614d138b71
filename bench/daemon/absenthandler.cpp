#include "bench/daemon/absenthandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"

CAbsentHandler::CAbsentHandler(ipc::EIfName interfaceId, std::shared_ptr<ITarvConfig> config)
    : CTarvConnectionHandlerBase({.config = std::move(config)},
                                 {interfaceId, HwHasWlan, std::chrono::seconds(1), &Signals::kWlanLinkState})
{
}

void CAbsentHandler::Refuse(const char* operation) const
{
    TLOG_WARN("{}: {} is not supported by this build", GetInterfaceName(), operation);
}

// A switch that cannot be carried out is a non-critical failure: the
// station keeps its other interfaces.
void CAbsentHandler::Enable(bool& ok)
{
    Refuse("Enable");
    ok = false;
}

void CAbsentHandler::Disable(bool& ok)
{
    Refuse("Disable");
    ok = false;
}

ipc::MNetStatus CAbsentHandler::GetStatus()
{
    ipc::MNetStatus status;
    status.set_interface(GetInterfaceId());
    status.set_connectionstate(ipc::MNetStatus::ENotSet);
    return status;
}

void CAbsentHandler::SetIfProperties(bool& ok)
{
    Refuse("SetIfProperties");
    ok = false;
}

void CAbsentHandler::SetDns(bool& ok)
{
    Refuse("SetDns");
    ok = false;
}

void CAbsentHandler::SetCredentialsAndEnable(bool& ok)
{
    Refuse("SetCredentialsAndEnable");
    ok = false;
}

ipc::MScanWlan CAbsentHandler::ScanWlan()
{
    Refuse("ScanWlan");
    ipc::MScanWlan reply;
    reply.set_success(false);
    return reply;
}

void CAbsentHandler::FastShutdown()
{
    Refuse("FastShutdown");
}

void CAbsentHandler::UpdateModemSettings(bool& ok)
{
    Refuse("UpdateModemSettings");
    ok = false;
}
