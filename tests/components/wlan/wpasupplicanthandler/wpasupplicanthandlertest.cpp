#include "src/components/wlan/wpasupplicanthandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/fsutils.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <sstream>

using HandlerMocks::CFakeHostSystem;

namespace {

// Processes that end on SIGTERM unless told to ignore it.
class CStoppableHost : public CFakeHostSystem {
public:
    int SignalProcess(int pid, int signalNumber) override
    {
        const int result = CFakeHostSystem::SignalProcess(pid, signalNumber);
        if (result == 0 && (signalNumber == SIGKILL || (signalNumber == SIGTERM && !ignoresTerm))) {
            processes.erase(pid);
        }
        return result;
    }
    bool ignoresTerm = false;
};

class WpaSupplicantTest : public ::testing::Test {
protected:
    WpaSupplicantTest()
    {
        CRootDir::Set(root.Root());
        root.WriteFile("etc/.keep", "");
    }
    ~WpaSupplicantTest() override { CRootDir::Set("/"); }

    CWpaSupplicantHandler MakeHandler()
    {
        return CWpaSupplicantHandler(
            [this](const std::string& command, std::string&) {
                commands.push_back(command);
                return exitCode;
            },
            host, clock);
    }
    bool ConfigExists() const { return access((root.Root() + "etc/wpa_supplicant.conf").c_str(), F_OK) == 0; }

    TestSupport::CTempDir root;
    std::shared_ptr<CStoppableHost> host = std::make_shared<CStoppableHost>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::vector<std::string> commands;
    int exitCode = 0;
    TestSupport::CLogCapture log;
};

TEST(WpaPskTest, MatchesReferenceVectors)
{
    struct SCase {
        std::string ssid, passphrase, psk;
    };
    const SCase cases[] = {
        {"IEEE", "password", "f42c6fc52df0ebef9ebb4b90b38a5f902e83fe1b135a70e23aed762e9710a12e"},
        {"ThisIsASSID", "ThisIsAPassword", "0dc0d6eb90555ed6419756b9a15ec3e3209b63df707dd508d14581f8982721af"},
        // 64 hexadecimal digits are the key itself.
        {"IEEE", "F42C6FC52DF0EBEF9EBB4B90B38A5F902E83FE1B135A70E23AED762E9710A12E",
         "f42c6fc52df0ebef9ebb4b90b38a5f902e83fe1b135a70e23aed762e9710a12e"},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(CWpaSupplicantHandler::GeneratePsk(c.ssid, c.passphrase), c.psk) << c.ssid;
    }
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

TEST(WpaPskTest, MatchesTheSystemPassphraseTool)
{
    if (access("/usr/bin/wpa_passphrase", X_OK) != 0 && access("/usr/sbin/wpa_passphrase", X_OK) != 0) {
        GTEST_SKIP() << "wpa_passphrase not installed (package wpasupplicant; scripts/bootstrap.sh installs it)";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"Station", "password123"},
        {"Caf\xc3\xa9 Stra\xc3\x9f" "e", "Gr\xc3\xbc\xc3\x9f" "e!2024"},       // UTF-8 in both
        {"\xff\xfe raw bytes", "a passphrase with spaces"},                  // not UTF-8
        {std::string(32, 'S'), std::string(63, '~')},                        // longest of both
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "12345678"},                    // 32 bytes, shortest passphrase
        {"quote's \"ssid\"", "back\\slash $HOME `x`"},
    };
    for (const auto& [ssid, passphrase] : cases) {
        std::string output;
        ASSERT_EQ(CFsUtils::RunSystemCmd("wpa_passphrase " + Quoted(ssid) + " " + Quoted(passphrase), output), 0)
            << output;
        std::istringstream lines(output);
        std::string line, expected;
        while (std::getline(lines, line)) {
            if (line.rfind("\tpsk=", 0) == 0) {
                expected = line.substr(5);
            }
        }
        ASSERT_EQ(expected.size(), 64u) << output;
        EXPECT_EQ(CWpaSupplicantHandler::GeneratePsk(ssid, passphrase), expected) << ssid;
    }
}

TEST_F(WpaSupplicantTest, StartWritesSecretConfigAndStartsInBackground)
{
    auto handler = MakeHandler();
    ASSERT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));

    const std::string psk = CWpaSupplicantHandler::GeneratePsk("Station", "password");
    EXPECT_EQ(root.ReadFile("etc/wpa_supplicant.conf"),
              "country=NL\nnetwork={\n\tssid=53746174696f6e\n\tpsk=" + psk + "\n}\n");
    struct stat info {};
    ASSERT_EQ(stat((root.Root() + "etc/wpa_supplicant.conf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(commands, std::vector<std::string>{"wpa_supplicant -B -P " + root.Root() +
                                                 "var/run/wpa_supplicant.pid -c " + root.Root() +
                                                 "etc/wpa_supplicant.conf -i wlan0"});
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(line.raw.find("password"), std::string::npos) << line.raw;
        EXPECT_EQ(line.raw.find(psk), std::string::npos) << line.raw;
    }
}

TEST_F(WpaSupplicantTest, ExistingWorldReadableConfigIsNarrowedToOwner)
{
    root.WriteFile("etc/wpa_supplicant.conf", "old\n");
    chmod((root.Root() + "etc/wpa_supplicant.conf").c_str(), 0644);
    auto handler = MakeHandler();
    ASSERT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
    struct stat info {};
    ASSERT_EQ(stat((root.Root() + "etc/wpa_supplicant.conf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(WpaSupplicantTest, SecondStartStopsTheRunningSupplicantFirst)
{
    struct SCase {
        const char* what;
        bool ignoresTerm;
        std::vector<std::pair<int, int>> signals;
    };
    const SCase cases[] = {
        {"exits on SIGTERM", false, {{4321, SIGTERM}}},
        // Killed once the grace time has passed on the driven clock.
        {"ignores SIGTERM", true, {{4321, SIGTERM}, {4321, SIGKILL}}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        host->signals.clear();
        host->ignoresTerm = c.ignoresTerm;
        host->AddProcess(4321, "wpa_supplicant", {"/sbin/wpa_supplicant", "-B"});
        root.WriteFile("var/run/wpa_supplicant.pid", "4321\n");
        root.WriteFile("etc/wpa_supplicant.conf", "old\n");
        auto handler = MakeHandler();
        ASSERT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
        EXPECT_EQ(host->signals, c.signals);
        EXPECT_TRUE(log.Contains(Log::warning, "wpa_supplicant already started, stopping..."));
        EXPECT_NE(root.ReadFile("etc/wpa_supplicant.conf"), "old\n");
    }
}

TEST_F(WpaSupplicantTest, PidFileNamingAnotherProcessIsNeverSignalled)
{
    const std::string contents[] = {"777\n", "0\n", "-1\n", "garbage\n", ""};
    host->AddProcess(777, "sshd", {"/usr/sbin/sshd", "-D"});
    auto handler = MakeHandler();
    for (const std::string& content : contents) {
        SCOPED_TRACE(content);
        root.WriteFile("var/run/wpa_supplicant.pid", content);
        root.WriteFile("etc/wpa_supplicant.conf", "network\n");
        handler.StopWpaSupplicant();
        EXPECT_TRUE(host->signals.empty());
        EXPECT_FALSE(ConfigExists());
        EXPECT_TRUE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
        EXPECT_TRUE(host->signals.empty());
    }
}

TEST_F(WpaSupplicantTest, FailedOrPointlessStartReportsFalse)
{
    auto handler = MakeHandler();
    exitCode = 255;
    EXPECT_FALSE(handler.StartWpaSupplicant("wlan0", "Station", "password"));
    EXPECT_TRUE(log.Contains(Log::error, "Could not start wpa_supplicant: 255"));

    // Clearing the credentials: nothing to join, nothing started.
    commands.clear();
    EXPECT_FALSE(handler.StartWpaSupplicant("wlan0", "", ""));
    EXPECT_TRUE(commands.empty());
}

} // namespace
