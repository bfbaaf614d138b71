#pragma once
// Handler of the commissioning access point uap0: personalises the hostapd
// and dnsmasq configuration files (network name, passphrase, host name),
// creates uap0 on the WLAN radio, starts and stops both services and makes
// sure they are gone after a disable.

#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/system/ihostnamemanager.h"

#include <chrono>
#include <memory>
#include <string>

class CTarvApHandler : public CTarvConnectionHandlerBase {
public:
    // Uses the host name manager of the parts.
    explicit CTarvApHandler(const SHandlerParts& parts, std::string dnsmasqPath = kDnsmasqConfPath,
                            std::string hostapdPath = kHostapdConfPath);
    ~CTarvApHandler() override;

    // Throws CTarvException when the files or the interface cannot be prepared.
    void Initialize() override;
    void Enable(bool& ok) override;
    // Throws CTarvException when uap0 or a service cannot be brought down.
    void Disable(bool& ok) override;

    static constexpr const char* kDnsmasqConfPath = "/etc/dnsmasq.conf";
    static constexpr const char* kHostapdConfPath = "/etc/hostapd.conf";
    static constexpr const char* kPassphrasePlaceholder = "yyyyyyyyyyyyyy";
    static constexpr const char* kNamePlaceholder = "EV-Charger-xx-xx-xxx-xxx";
    // How long the services get to stop before they are killed.
    static constexpr std::chrono::seconds kServiceStopTimeout{2};
    // The access point's own service processes, as their init scripts leave
    // them; a service of the same name elsewhere on the station (the modem
    // side's DHCP server) has a pid file of its own and is left alone.
    static inline const SProcessIdentity kHostapd{"hostapd", "/run/hostapd.pid", ""};
    static inline const SProcessIdentity kDnsmasq{"dnsmasq", "/run/dnsmasq/dnsmasq.pid", ""};

private:
    void SetApConfigFiles(const std::string& hostname);
    void ConfigureAp();
    // True once both services are gone (killed if need be).
    bool WaitForApServicesStopped();
    bool IsServiceRunning(const SProcessIdentity& service);

    // Set once at construction.
    const std::shared_ptr<IHostnameManager> mHostnameManager;
    const std::string mDnsmasqPath;
    const std::string mHostapdPath;
};
