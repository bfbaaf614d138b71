#pragma once
// Keeps the station's clock in line with the configured NTP servers: waits
// (retrying every 10 s) until a server name resolves, sets the clock once
// with a one-shot ntpd run, starts ntpd as a background daemon and checks
// every 10 s until the kernel reports the clock synchronised. Progress goes
// out as three diagnostic signals.

#include "platform/ipc/diagnosticssignal.h"
#include "platform/worker/worker.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/system/intpmanager.h"
#include "src/components/system/iruncommand.h"
#include "src/components/time/intpsystem.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CNtpManager : public INtpManager, public CWorker {
public:
    static constexpr std::chrono::seconds kRetryInterval{10};
    // The one-shot run waits for a server's answer; one that never comes
    // must not hold the manager's thread for longer than this.
    static constexpr std::chrono::milliseconds kOneShotDeadline{60000};
    // Starting or stopping the background daemon returns at once.
    static constexpr std::chrono::milliseconds kDaemonControlDeadline{10000};

    // Without a system the real resolver and clock status are used.
    CNtpManager(std::shared_ptr<ITarvConfig> config, std::shared_ptr<IRunCommand> runCommand,
                std::shared_ptr<INtpSystem> system = nullptr, std::shared_ptr<IClock> clock = IClock::Steady());
    ~CNtpManager() override;

    // Reads and validates NtpServer1 and NtpServer2 and starts the manager's
    // thread. True when at least one valid server is configured.
    bool Init() override;
    // Starts the resolve loop on the manager's thread and returns at once.
    // A loop already waiting for its next try is replaced.
    void StartNtpd() override;

private:
    void AttemptNtpConnection();
    void RunNtpd(const std::vector<std::string>& servers);
    void CheckSync();
    std::vector<std::string> Servers() const;

    // Set once at construction.
    const std::shared_ptr<ITarvConfig> mConfig;
    const std::shared_ptr<IRunCommand> mRunCommand;
    const std::shared_ptr<INtpSystem> mSystem;
    // The signals guard their values with their own locks.
    CDiagnosticsSignal<std::string> mConnectivitySignal;
    CDiagnosticsSignal<bool> mNotSynchronisedSignal;
    CDiagnosticsSignal<bool> mDnsFailureSignal;

    mutable std::mutex mServersMutex;
    // Valid server names in key order; written by Init (a re-initialisation
    // may run while the loop does), read by the loop.
    std::vector<std::string> mServers; // guarded by mServersMutex

    // Used on the manager's thread only.
    bool mSuppressLogging = false;
    CallHandle mNextTry;
};
