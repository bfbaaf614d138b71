#pragma once
// Handler of the wired interface eth0: DHCP or static addressing in the
// interfaces file, automatic or static DNS, and a status with address,
// netmask, default gateway and DNS servers.

#include "src/components/system/ihostnamemanager.h"
#include "src/components/system/itarvdnsmanager.h"
#include "src/components/system/itarvinterfacesfileeditor.h"
#include "src/components/handlers/itarvethcontrol.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

class CTarvEthHandler : public CTarvConnectionHandlerBase, public ITarvEthControl {
public:
    // Uses the interfaces file editor, the host name manager and the
    // Ethernet DNS manager of the parts.
    explicit CTarvEthHandler(const SHandlerParts& parts, std::string routeTablePath = kRouteTablePath);

    // The kernel's IPv4 route table.
    static inline const std::string kRouteTablePath = "/proc/net/route";

    void Enable(bool& ok) override;
    void Disable(bool& ok) override;
    ipc::MNetStatus GetStatus() override;

    void SetIfProperties(bool& ok) override;
    void SetDns(bool& ok) override;

private:
    void GetGateway(ipc::MNetStatus& status);
    void GetDns(ipc::MNetStatus& status);
    // "0101A8C0" (a route table column, host byte order) -> "192.168.1.1";
    // "0.0.0.0" for text that is not such a number.
    std::string HexIpToIntIp(const std::string& hexText);
    // Checks the static address, netmask and gateway; logs what is wrong.
    bool AreStaticPropertiesValid(const std::string& address, const std::string& netmask,
                                  const std::string& gateway) const;

    // Set once at construction.
    const std::shared_ptr<ITarvInterfacesFileEditor> mInterfacesFileEditor;
    const std::shared_ptr<IHostnameManager> mHostnameManager;
    const std::shared_ptr<ITarvDnsManager> mDnsManager;
    const std::string mRouteTablePath;
    std::mutex mRouteLogMutex;
    // The gateway text last refused, while the table still shows it.
    std::optional<std::string> mLastUnreadableGateway; // guarded by mRouteLogMutex
};
