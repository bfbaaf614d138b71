#pragma once
// A WLAN station handler on scripted collaborators and a driven clock, with
// a radio as a script: one station answer for every poll and the scan
// answers in order (the last one repeats).

#include "src/components/handlers/tarvwlanhandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>

namespace HandlerMocks {

class CFakeWifiScan : public ITarvWifiScan {
public:
    std::unique_ptr<CHandle> WifiScanInit(const std::string&) override { return Count(1), std::make_unique<CHandle>(); }
    void FreeWifi(std::unique_ptr<CHandle>) override { Count(-1); }
    SStationResult GetWifiStatus(CHandle&) override
    {
        std::lock_guard lock(mutex);
        ++stationQueries;
        changed.notify_all();
        return station;
    }
    SScanResult ScanAll(CHandle&) override
    {
        std::lock_guard lock(mutex);
        SScanResult result = scans.empty() ? SScanResult{} : scans.front();
        if (scans.size() > 1) {
            scans.pop_front();
        }
        return result;
    }
    void WaitForStationQueries(int n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stationQueries >= n; });
    }
    void Count(int change)
    {
        std::lock_guard lock(mutex);
        openHandles += change;
    }

    std::mutex mutex; // guards the fields below once the handler runs
    std::condition_variable changed;
    int stationQueries = 0;
    int openHandles = 0;
    SStationResult station{1, {{}, "Home", 0, -55}};
    std::deque<SScanResult> scans;
};

class WlanHandlerFixture : public ::testing::Test {
protected:
    WlanHandlerFixture()
    {
        using ::testing::_;
        using ::testing::Return;
        CRootDir::Set(root.Root());
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        ON_CALL(*netlink, GetLinkState(_)).WillByDefault([this](rtnl_link*) { return linkState.load(); });
        ON_CALL(*errorHandler, IsIfInDesiredState(_, _)).WillByDefault(Return(true));
        ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::optional<std::string>("charger-1")));
        ON_CALL(*supplicant, StartWpaSupplicant(_, _, _)).WillByDefault(Return(true));
        host->AddAddress("wlan0", "192.168.8.20", "255.255.255.0");
    }
    ~WlanHandlerFixture() override { CRootDir::Set("/"); }

    static constexpr const char* kPassphrase = "sEcret-Pass-42";
    template <typename T>
    using Nice = std::shared_ptr<::testing::NiceMock<T>>;

    TestSupport::CTempDir root;
    // Filled before the handler reads its hardware flag.
    std::shared_ptr<CFakeConfig> config = [] {
        auto c = std::make_shared<CFakeConfig>();
        c->bools = {{HwHasWlan, true}, {TarvWlanEnable, true}};
        c->strings = {{TarvSsid, "Home"}, {WlanStaPassword, kPassphrase}};
        return c;
    }();
    Nice<MockRunCommand> runner = std::make_shared<::testing::NiceMock<MockRunCommand>>();
    Nice<MockTarvErrorHandler> errorHandler = std::make_shared<::testing::NiceMock<MockTarvErrorHandler>>();
    Nice<MockInterfacesFileEditor> editor = std::make_shared<::testing::NiceMock<MockInterfacesFileEditor>>();
    Nice<MockTarvNetlink> netlink = std::make_shared<::testing::NiceMock<MockTarvNetlink>>();
    Nice<MockHostnameManager> hostname = std::make_shared<::testing::NiceMock<MockHostnameManager>>();
    Nice<MockWpaSupplicantHandler> supplicant = std::make_shared<::testing::NiceMock<MockWpaSupplicantHandler>>();
    std::shared_ptr<CFakeWifiScan> scan = std::make_shared<CFakeWifiScan>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CFakeHostSystem> host = std::make_shared<CFakeHostSystem>();
    std::atomic<std::uint8_t> linkState{Tarv::kOperStateUp};
    TestSupport::CLogCapture log;
    CTarvWlanHandler wlan{config, runner, errorHandler, editor, netlink, scan, hostname, supplicant, clock, host};
};

} // namespace HandlerMocks
