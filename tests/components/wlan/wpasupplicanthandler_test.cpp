#include "src/components/wlan/wpasupplicanthandler.h"

#include "src/components/wlan/supplicantconfigrender.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

namespace {

// Processes end on SIGTERM unless told to ignore it.
struct CStoppableHost : HandlerMocks::CFakeHostSystem {
    int SignalProcess(int pid, int signalNumber) override
    {
        const int result = CFakeHostSystem::SignalProcess(pid, signalNumber);
        if (result == 0 && (signalNumber == SIGKILL || !ignoresTerm)) {
            processes.erase(pid);
        }
        return result;
    }
    bool ignoresTerm = false;
};

class WpaSupplicantTest : public ::testing::Test {
protected:
    WpaSupplicantTest() { CRootDir::Set(root.Root()), root.WriteFile("etc/.keep", ""); }
    ~WpaSupplicantTest() override { CRootDir::Set("/"); }

    int ConfigMode() const
    {
        struct stat info {};
        return stat(Conf().c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
    }
    std::string Conf() const { return root.Root() + "etc/wpa_supplicant.conf"; }

    TestSupport::CTempDir root;
    std::shared_ptr<CStoppableHost> host = std::make_shared<CStoppableHost>();
    std::vector<std::string> commands;
    int exitCode = 0;
    CWpaSupplicantHandler handler{[this](const std::string& command, std::string&) {
                                      commands.push_back(command);
                                      return exitCode;
                                  },
                                  host, std::make_shared<CManualClock>()};
    TestSupport::CLogCapture log;
};

TEST(WpaPskTest, MatchesReferenceVectors)
{
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"IEEE", "password", "f42c6fc52df0ebef9ebb4b90b38a5f902e83fe1b135a70e23aed762e9710a12e"},
        // Bytes above 0x7f on both sides, and the longest name and passphrase.
        {"\xff\xfe raw bytes", "Gr\xc3\xbc\xc3\x9f" "e!2024",
         "57558097c4dc93b5ec26d1a75f6faac7b35c05243df1074b2f75db0b8493e358"},
        {std::string(32, 'S'), std::string(63, '~'), "deb7c21cf467ea04bc9e7e7bcf6daf8db4f103af03006b9902963fc1bd847fbe"},
        {"IEEE", std::string(64, 'A'), std::string(64, 'a')}, // 64 hexadecimal digits are the key itself
    };
    for (const auto& [ssid, passphrase, psk] : cases) {
        EXPECT_EQ(CWpaSupplicantHandler::GeneratePsk(ssid, passphrase), psk) << ssid;
    }
}

// Any SSID bytes are written as hexadecimal digits: none can break the file.
TEST(SupplicantConfigTest, SsidInHexadecimal)
{
    EXPECT_EQ(RenderSupplicantConfig(std::string("Sa\n}\0\xff", 6), std::string(64, 'a')),
              "country=NL\nnetwork={\n\tssid=53610a7d00ff\n\tpsk=" + std::string(64, 'a') + "\n}\n");
}

TEST_F(WpaSupplicantTest, StartWritesOwnerOnlyConfigWithoutLoggingSecrets)
{
    root.WriteFile("etc/wpa_supplicant.conf", "left by someone else\n");
    chmod(Conf().c_str(), 0644);
    ASSERT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
    const std::string psk = CWpaSupplicantHandler::GeneratePsk("Station", "password");
    EXPECT_EQ(root.ReadFile("etc/wpa_supplicant.conf"), RenderSupplicantConfig("Station", psk));
    EXPECT_EQ(ConfigMode(), 0600);
    EXPECT_EQ(commands, std::vector<std::string>{"wpa_supplicant -B -P " + root.Root() + "var/run/wpa_supplicant.pid -c " +
                                                 Conf() + " -i wlan0"});
    EXPECT_FALSE(log.ContainsSubstring("password") || log.ContainsSubstring(psk));
}

TEST_F(WpaSupplicantTest, FailedOrPointlessStartsReportFalse)
{
    exitCode = 255;
    EXPECT_FALSE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
    EXPECT_TRUE(log.Contains(Log::error, "Could not start wpa_supplicant: 255"));
    commands.clear();
    EXPECT_FALSE(handler.StartWpaSupplicant("wlan0", "", "")); // nothing to join
    EXPECT_TRUE(commands.empty());
}

TEST_F(WpaSupplicantTest, StartStopsTheRunningSupplicantOnlyWhenThePidFileNamesIt)
{
    host->AddProcess(777, "sshd", {"/usr/sbin/sshd", "-D"});
    host->AddProcess(778, "wpa_supplicant", {"wpa_supplicant", "-B", "-i", "wlan1"}); // another interface's
    for (const std::string content : {"777\n", "778\n", "0\n", "-1\n", "garbage\n", ""}) {
        root.WriteFile("var/run/wpa_supplicant.pid", content);
        handler.StopWpaSupplicant();
        EXPECT_EQ(ConfigMode(), -1); // removed all the same
        EXPECT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
        EXPECT_TRUE(host->signals.empty()) << content;
    }
    // Each stop above waited on the clock for the pid file of the supplicant just started.
    EXPECT_EQ(log.Count("wpa_supplicant started but wrote no pid file to /var/run/wpa_supplicant.pid"), 5u);
    // One that ignores SIGTERM is killed once the grace time passed on the driven clock.
    for (const bool ignoresTerm : {false, true}) {
        host->signals.clear();
        host->ignoresTerm = ignoresTerm;
        host->AddProcess(4321, "wpa_supplicant", {"/sbin/wpa_supplicant", "-B", "-i", "wlan0"});
        root.WriteFile("var/run/wpa_supplicant.pid", "4321\n");
        ASSERT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
        using Sent = std::vector<std::pair<int, int>>;
        EXPECT_EQ(host->signals, (ignoresTerm ? Sent{{4321, SIGTERM}, {4321, SIGKILL}} : Sent{{4321, SIGTERM}}));
    }
}

} // namespace
