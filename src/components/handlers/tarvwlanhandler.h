#pragma once
// Handler of the WLAN station interface wlan0: validates the credentials,
// runs the supplicant, writes the wlan0 stanza, watches the association once
// a second on its own worker and keeps the last status (with the signal
// strength) for status requests, and scans for networks.

#include "platform/wifiscan/itarvwifiscan.h"
#include "platform/worker/worker.h"
#include "src/components/handlers/itarvwlancontrol.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/system/ihostnamemanager.h"
#include "src/components/system/itarvinterfacesfileeditor.h"
#include "src/components/wlan/iwpasupplicanthandler.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <shared_mutex>
#include <vector>

class CTarvWlanHandler : public CTarvConnectionHandlerBase, public ITarvWlanControl {
public:
    // Uses the interfaces file editor and the host name manager of the parts.
    CTarvWlanHandler(const SHandlerParts& parts, std::shared_ptr<ITarvWifiScan> wifiScan,
                     std::shared_ptr<IWpaSupplicantHandler> supplicant);
    // Stops the status poll before the handler goes.
    ~CTarvWlanHandler() override;

    // Starts the supplicant, then brings wlan0 up; with DHCP a lease that
    // is not there yet is taken later, once the network is joined.
    void Enable(bool& ok) override;
    // Stops the status poll, then brings wlan0 down; the supplicant keeps running.
    void Disable(bool& ok) override;
    // The cached status: never waits for the kernel or the radio.
    ipc::MNetStatus GetStatus() override;
    void SendDiagSignals() override;

    void SetCredentialsAndEnable(bool& ok) override;
    void SetIfProperties(bool& ok) override;
    ipc::MScanWlan ScanWlan() override;

    // Stops the status poll and marks the link disconnected.
    void Disconnect();
    // One poll of the association into the cached status (the periodic call).
    void UpdateNetworkStatus();

    static constexpr std::chrono::seconds kStatusPollPeriod{1};
    static constexpr int kScanAttempts = 10;
    static constexpr int kMaxScanEntries = 100;
    // Weaker networks are not listed.
    static constexpr std::int32_t kMinScanSignalMbm = -8499;
    // Only the 2.4 GHz band is listed (channels 1 to 13).
    static constexpr std::uint32_t kMinScanFrequencyMhz = 2412;
    static constexpr std::uint32_t kMaxScanFrequencyMhz = 2483;
    static constexpr std::int32_t kNoSignal = -1000;
    static constexpr std::chrono::seconds kDhcpClientStopGrace{2};

    // The scan entries for the records: strongest first, one per network name,
    // only usable 2.4 GHz networks, at most kMaxScanEntries.
    static void AddScanEntries(std::vector<ITarvWifiScan::SScanRecord> records, ipc::MScanWlan& scan);

protected:
    // The association is watched by the status poll: a slow link is no
    // failure of the enable.
    bool IsLateUpStateAFailure() const override { return false; }

private:
    // ifup with the supplicant running; false when wlan0 cannot be used.
    bool BringUpWithSupplicant();
    void SetDisconnected(ipc::MNetStatus::EConnectionState state);
    // Association state of wlan0; fills station when connected.
    ipc::MNetStatus::EConnectionState QueryAssociation(ITarvWifiScan::SStationInfo& station);
    // Reads and checks the credentials; false (logged) when they are unusable.
    bool ReadCredentials(std::string& ssid, std::string& passphrase) const;

    // Set once at construction.
    const std::shared_ptr<ITarvInterfacesFileEditor> mInterfacesFileEditor;
    const std::shared_ptr<ITarvWifiScan> mWifiScan;
    const std::shared_ptr<IHostnameManager> mHostnameManager;
    const std::shared_ptr<IWpaSupplicantHandler> mSupplicant;
    // The signal guards its value with its own lock.
    const std::shared_ptr<CDiagnosticsSignal<std::int32_t>> mSignalStrength;

    // Written by the poll (worker) and cleared by Disconnect (lifecycle thread).
    std::atomic<bool> mConnectionAnnounced{false};
    // Whether the DHCP client of wlan0 is the handler's own (started after
    // ifup found no lease), which ifdown does not end. Lifecycle thread.
    std::atomic<bool> mOwnDhcpClient{false};
    // Whether the last poll failed, so that a lasting failure is logged once.
    std::atomic<bool> mPollFailing{false};
    mutable std::shared_mutex mStatusMutex; // guards mCachedStatus
    ipc::MNetStatus mCachedStatus;
    // Touched only on mWorker's thread (through BlockingCall from elsewhere).
    CWorker::CallHandle mStatusPoll;
    // Last member: its thread stops (in the destructor) before the rest goes.
    CWorker mWorker;
};
