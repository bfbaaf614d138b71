#pragma once
// Benchmark stand-in for a connection handler this build does not contain: it does
// nothing, says so, and reports the interface's status as unknown. The
// lifecycle can then treat every interface alike.

#include "src/components/handlers/itarvethcontrol.h"
#include "src/components/handlers/itarvltecontrol.h"
#include "src/components/handlers/itarvwlancontrol.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"

class CAbsentHandler : public CTarvConnectionHandlerBase,
                       public ITarvEthControl,
                       public ITarvWlanControl,
                       public ITarvLteControl {
public:
    CAbsentHandler(ipc::EIfName interfaceId, std::shared_ptr<ITarvConfig> config);

    void Enable(bool& ok) override;
    void Disable(bool& ok) override;
    ipc::MNetStatus GetStatus() override;
    void SendDiagSignals() override {}
    void SendExtendedDiagSignals() override {}

    void SetIfProperties(bool& ok) override;
    void SetDns(bool& ok) override;
    void SetCredentialsAndEnable(bool& ok) override;
    // An unsuccessful reply: there is nothing to scan with.
    ipc::MScanWlan ScanWlan() override;
    void FastShutdown() override;
    void UpdateModemSettings(bool& ok) override;

private:
    void Refuse(const char* operation) const;
};
