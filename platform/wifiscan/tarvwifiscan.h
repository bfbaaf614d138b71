#pragma once
// WLAN radio queries over nl80211 (generic netlink): the BSS the station is
// associated with, and a triggered scan with its results. Every exchange
// with the kernel has a deadline, so a radio that never answers cannot hang
// the caller.

#include "platform/wifiscan/itarvwifiscan.h"

#include <chrono>
#include <vector>

class CTarvWifiScan : public ITarvWifiScan {
public:
    // requestDeadline bounds one request and its answer, scanDeadline the
    // wait for a triggered scan to end.
    explicit CTarvWifiScan(std::chrono::milliseconds requestDeadline = kRequestDeadline,
                           std::chrono::milliseconds scanDeadline = kScanDeadline);

    std::unique_ptr<CHandle> WifiScanInit(const std::string& interfaceName) override;
    SStationResult GetWifiStatus(CHandle& handle) override;
    SScanResult ScanAll(CHandle& handle) override;
    void FreeWifi(std::unique_ptr<CHandle> handle) override;

    // The BSS of a scan dump the station is associated with (or the ad-hoc
    // network it joined); nullptr when there is none. A BSS the station has
    // only authenticated with carries no traffic yet and does not count.
    static const SScanRecord* FindAssociated(const std::vector<SScanRecord>& records);

    static constexpr std::chrono::milliseconds kRequestDeadline{3000};
    static constexpr std::chrono::milliseconds kScanDeadline{10000};

private:
    const std::chrono::milliseconds mRequestDeadline;
    const std::chrono::milliseconds mScanDeadline;
};
