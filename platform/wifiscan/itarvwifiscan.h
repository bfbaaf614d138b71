#pragma once
// WLAN radio queries on one interface: the access point the station is
// associated with, and a scan of the networks in range.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ITarvWifiScan {
public:
    // An open query channel bound to one interface; closed when destroyed.
    class CHandle {
    public:
        virtual ~CHandle() = default;
    };

    struct SStationInfo {
        std::array<std::uint8_t, 6> bssid{};
        std::string ssid;          // at most 32 bytes
        std::int32_t status = -1;  // association status of the BSS, -1 when none
        std::int8_t signalDbm = 0;
    };
    struct SStationResult {
        int result = -1;           // -1 error, 0 not associated, 1 associated
        SStationInfo info;
    };

    struct SScanRecord {
        std::array<std::uint8_t, 6> bssid{};
        std::uint32_t frequencyMhz = 0;
        std::string ssid;          // at most 32 bytes
        std::int32_t status = -1;
        std::int32_t signalMbm = 0; // hundredths of a dBm
        std::uint32_t secondsSeen = 0;
        // Non-zero when the record is complete (its frequency, signal and
        // network name were all reported); incomplete records are not listed.
        std::uint32_t complete = 0;
    };
    struct SScanResult {
        int count = -1;            // records found, negative on error
        std::vector<SScanRecord> records; // at most kMaxScanRecords
    };

    static constexpr std::size_t kMaxScanRecords = 100;

    virtual ~ITarvWifiScan() = default;

    // nullptr when the interface cannot be queried at all.
    virtual std::unique_ptr<CHandle> WifiScanInit(const std::string& interfaceName) = 0;
    virtual SStationResult GetWifiStatus(CHandle& handle) = 0;
    // Triggers a scan, waits for its end (bounded) and returns what it found.
    virtual SScanResult ScanAll(CHandle& handle) = 0;
    virtual void FreeWifi(std::unique_ptr<CHandle> handle) = 0;
};
