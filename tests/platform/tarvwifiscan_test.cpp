#include "platform/wifiscan/tarvwifiscan.h"

#include <gtest/gtest.h>

#include <linux/nl80211.h>

namespace {

// This machine has no radio: the queries must fail cleanly, and quickly,
// on interfaces that are not wireless or do not exist.
TEST(WifiScanTest, NonWirelessInterfacesFailCleanly)
{
    CTarvWifiScan scan(std::chrono::milliseconds(2000), std::chrono::milliseconds(2000));
    EXPECT_EQ(scan.WifiScanInit("nosuchif0"), nullptr);

    // Without nl80211 in the kernel already the handle is refused.
    std::unique_ptr<ITarvWifiScan::CHandle> handle = scan.WifiScanInit("lo");
    if (!handle) {
        return;
    }
    EXPECT_EQ(scan.GetWifiStatus(*handle).result, -1);
    const ITarvWifiScan::SScanResult result = scan.ScanAll(*handle);
    EXPECT_LT(result.count, 0);
    EXPECT_TRUE(result.records.empty());
    scan.FreeWifi(std::move(handle));
}

// Only an association (or a joined ad-hoc network) counts, never an authentication alone.
TEST(WifiScanTest, TheAssociatedBssIsTheOneWithAnAssociation)
{
    std::vector<ITarvWifiScan::SScanRecord> records(3);
    records[0].status = NL80211_BSS_STATUS_AUTHENTICATED;
    EXPECT_EQ(CTarvWifiScan::FindAssociated(records), nullptr);
    for (const std::int32_t status : {NL80211_BSS_STATUS_ASSOCIATED, NL80211_BSS_STATUS_IBSS_JOINED}) {
        records[2].status = status;
        EXPECT_EQ(CTarvWifiScan::FindAssociated(records), &records[2]) << status;
    }
}

} // namespace
