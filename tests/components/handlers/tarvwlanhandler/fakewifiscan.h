#pragma once
// A radio as a script: the station answer every poll gets, the scan answers
// in order (the last one repeats), and how many handles are open.

#include "platform/wifiscan/itarvwifiscan.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace HandlerMocks {

class CFakeWifiScan : public ITarvWifiScan {
public:
    std::unique_ptr<CHandle> WifiScanInit(const std::string&) override
    {
        std::lock_guard lock(mMutex);
        if (!initWorks) {
            return nullptr;
        }
        ++openHandles;
        return std::make_unique<CHandle>();
    }
    SStationResult GetWifiStatus(CHandle&) override
    {
        std::lock_guard lock(mMutex);
        ++stationQueries;
        mChanged.notify_all();
        return station;
    }
    SScanResult ScanAll(CHandle&) override
    {
        std::lock_guard lock(mMutex);
        SScanResult result = scans.empty() ? SScanResult{} : scans.front();
        if (scans.size() > 1) {
            scans.pop_front();
        }
        return result;
    }
    void FreeWifi(std::unique_ptr<CHandle> handle) override
    {
        std::lock_guard lock(mMutex);
        openHandles -= handle ? 1 : 0;
    }

    void SetStation(SStationResult result)
    {
        std::lock_guard lock(mMutex);
        station = std::move(result);
    }
    // Blocks until the station was queried at least n times in all.
    void WaitForStationQueries(int n)
    {
        std::unique_lock lock(mMutex);
        mChanged.wait(lock, [&] { return stationQueries >= n; });
    }
    int OpenHandles()
    {
        std::lock_guard lock(mMutex);
        return openHandles;
    }

    // Set before the handler runs, or through the setters above.
    bool initWorks = true;
    SStationResult station{1, {{}, "Home", 0, -55}};
    std::deque<SScanResult> scans;

private:
    std::mutex mMutex; // guards every field
    std::condition_variable mChanged;
    int stationQueries = 0;
    int openHandles = 0;
};

} // namespace HandlerMocks
