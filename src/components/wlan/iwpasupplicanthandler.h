#pragma once
// The WLAN supplicant process: its configuration file with the pre-shared
// key, its start and its stop.

#include <string_view>

class IWpaSupplicantHandler {
public:
    virtual ~IWpaSupplicantHandler() = default;

    // Writes the configuration for the network and starts the supplicant on
    // the interface, stopping one that already runs. False when it did not start.
    virtual bool StartWpaSupplicant(std::string_view interfaceName, std::string_view ssid,
                                    std::string_view passphrase) = 0;
    // Stops the running supplicant (if any) and removes its configuration file.
    virtual void StopWpaSupplicant() = 0;
};
