// CTarvConfig on the real configuration sources: files under a temporary
// root, a change written by "another process" reported through the watcher.

#include "src/components/config/tarvconfig.h"

#include "platform/rootdir/rootdir.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

TEST(TarvConfigOnQeConfig, ReadsFilesAndReportsChangesFromTheWatcherThread)
{
    TestSupport::CTempDir tmp;
    CRootDir::Set(tmp.Root());
    tmp.WriteFile("etc/config/hwinfo.json", R"({"HwHasWlan": true})");
    tmp.WriteFile("etc/config/network.json", R"({"TarvSsid": "station"})");
    {
        CTarvConfig config(QeConfig::Create("settings"), QeConfig::CreateReadOnly("hwinfo", {}, true),
                           QeConfig::Create("secrets"), QeConfig::Create("network"));
        EXPECT_TRUE(config.GetBool(HwHasWlan));
        EXPECT_EQ(config.GetString(TarvSsid), "station");
        // Another writer changes keys of "network" and "hwinfo" (read-only:
        // never reported). A request right after the write sees the change.
        for (int i = 0; i < 20; ++i) {
            const std::string ssid = "other" + std::to_string(i);
            tmp.WriteFile("etc/config/network.json", R"({"TarvSsid": ")" + ssid + R"(", "NtpServer1": "pool.example"})");
            tmp.WriteFile("etc/config/hwinfo.json", "{\"HwHasWlan\": " + std::string(i % 2 ? "true" : "false") + "}");
            EXPECT_EQ(config.CheckChanges(), i == 0 ? (std::vector<EConfigKey>{TarvSsid, NtpServer1})
                                                    : std::vector<EConfigKey>{TarvSsid});
            EXPECT_EQ(config.GetString(TarvSsid), ssid);
        }
        EXPECT_TRUE(config.CheckChanges().empty());
    }
    CRootDir::Set("/");
}
