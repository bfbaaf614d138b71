// CTarvConfig on the real configuration sources: files under a temporary
// root, a change written by "another process" reported through the watcher.

#include "src/components/config/tarvconfig.h"

#include "platform/rootdir/rootdir.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(TarvConfigOnQeConfig, ReadsFilesAndReportsChangesFromTheWatcherThread)
{
    TestSupport::CTempDir tmp;
    CRootDir::Set(tmp.Root());
    tmp.WriteFile("etc/config/hwinfo.json", R"({"HwHasWlan": true, "ProductSn": "12-34-567-890"})");
    tmp.WriteFile("etc/config/network.json", R"({"TarvSsid": "station", "TarvEthEnable": false})");
    tmp.WriteFile("etc/config/secrets.json", R"({"TarvLteApn": "internet"})");
    tmp.WriteFile("etc/config/settings.json", "{}");
    {
        auto network = QeConfig::Create("network");
        CTarvConfig config(QeConfig::Create("settings"), QeConfig::CreateReadOnly("hwinfo", {}, true),
                           QeConfig::Create("secrets"), network);
        EXPECT_TRUE(config.GetBool(HwHasWlan));
        EXPECT_EQ(config.GetString(ProductSn), "12-34-567-890");
        EXPECT_EQ(config.GetString(TarvSsid), "station");
        EXPECT_FALSE(config.GetBool(TarvEthEnable));
        EXPECT_EQ(config.GetString(TarvLteApn), "internet");
        EXPECT_EQ(config.GetString(TarvLteSimPin), "3185");
        EXPECT_FALSE(config.GetBool(InstallationComplete));

        // Another writer changes two keys of "network" and one of "hwinfo".
        tmp.WriteFile("etc/config/network.json",
                      R"({"TarvSsid": "other", "TarvEthEnable": false, "NtpServer1": "pool.example"})");
        tmp.WriteFile("etc/config/hwinfo.json", R"({"HwHasWlan": false, "ProductSn": "12-34-567-890"})");
        std::vector<EConfigKey> changed;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (changed.size() < 2 && std::chrono::steady_clock::now() < deadline) {
            const auto more = config.CheckChanges();
            changed.insert(changed.end(), more.begin(), more.end());
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_EQ(changed, (std::vector<EConfigKey>{TarvSsid, NtpServer1}));
        EXPECT_EQ(config.GetString(TarvSsid), "other");
        EXPECT_TRUE(config.CheckChanges().empty());
    }
    CRootDir::Set("/");
}
