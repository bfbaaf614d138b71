#pragma once
// Runs wpa_supplicant for the station interface: /etc/wpa_supplicant.conf
// holds the network's SSID and the pre-shared key derived from the
// passphrase (never the passphrase itself), the daemon is started in the
// background with a pid file and stopped through the process owner.

#include "platform/worker/iclock.h"
#include "src/components/handlers/ihostsystem.h"
#include "src/components/system/iprocessowner.h"
#include "src/components/wlan/iwpasupplicanthandler.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CWpaSupplicantHandler : public IWpaSupplicantHandler {
public:
    // Runs a shell command line and returns its exit status (0 for success,
    // -1 when it could not run or passed its deadline); output gets what it printed.
    using SystemCommand = std::function<int(const std::string& commandLine, std::string& output)>;

    // Without a command runner, commands run through the shell with kStartDeadline;
    // without a host system, the real one is used; without a process owner,
    // one over the host system.
    explicit CWpaSupplicantHandler(SystemCommand systemCommand = nullptr,
                                   std::shared_ptr<IHostSystem> hostSystem = nullptr,
                                   std::shared_ptr<IClock> clock = IClock::Steady(),
                                   std::shared_ptr<IProcessOwner> processOwner = nullptr);

    bool StartWpaSupplicant(std::string_view interfaceName, std::string_view ssid,
                            std::string_view passphrase) override;
    void StopWpaSupplicant() override;

    // The WPA2-Personal pre-shared key as 64 lowercase hexadecimal digits:
    // PBKDF2-HMAC-SHA1 of the passphrase salted with the SSID, 4096 rounds,
    // 32 bytes. A passphrase of exactly 64 hexadecimal digits already is the
    // key and is returned in lower case. Empty when the derivation fails.
    static std::string GeneratePsk(std::string_view ssid, std::string_view passphrase);

    static constexpr const char* kConfigPath = "/etc/wpa_supplicant.conf";
    static constexpr const char* kPidPath = "/var/run/wpa_supplicant.pid";
    // Deadline of the start command (it returns once the daemon has forked).
    static constexpr std::chrono::seconds kStartDeadline{30};
    // How long a terminated supplicant gets to exit before it is killed.
    static constexpr std::chrono::seconds kStopGrace{2};

private:
    bool WriteWpaSupplicantConfig(std::string_view ssid, std::string_view passphrase);
    // The supplicant of the interface last started (wlan0 before any start).
    SProcessIdentity IdentityLocked() const;
    void StopLocked();

    // Set once at construction.
    const SystemCommand mSystemCommand;
    const std::shared_ptr<IProcessOwner> mProcesses;

    // Serialises starts and stops: a stop must not run between another
    // caller's check for a running supplicant and its start.
    std::mutex mMutex;
    std::string mInterfaceName; // guarded by mMutex
};
