#include "src/components/system/tarvinterfacesfileeditor.h"

#include "platform/rootdir/rootdir.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

using HandlerMocks::CFakeConfig;
using TestSupport::CLogCapture;
using TestSupport::CTempDir;

namespace {

const std::string kLo = "auto lo\niface lo inet loopback";
const std::string kUap = "auto uap0\niface uap0 inet static\naddress 172.16.0.1\nnetmask 255.255.255.0";
const std::string kWlanDhcp = "auto wlan0\niface wlan0 inet dhcp\nhostname charger-1";
const std::string kPlc = "auto plc0\niface plc0 inet6 static\naddress fe80::0201:87ff:fe12:3456\nnetmask 64";

class InterfacesFileEditorTest : public ::testing::Test {
protected:
    InterfacesFileEditorTest()
    {
        CRootDir::Set(mTmp.Root());
        std::filesystem::create_directories(mTmp.Path() + "/etc/network");
        mConfig->bools = {{HwHasWlan, true}, {TarvWlanDhcpEnable, true}, {HwHasEthernet, true},
                          {TarvEthDhcpEnable, true}, {HwHasLte, true}};
    }
    ~InterfacesFileEditorTest() override { CRootDir::Set("/"); }

    std::string File() const { return mTmp.ReadFile("etc/network/interfaces"); }
    bool FileExists() const { return std::filesystem::exists(mTmp.Path() + "/etc/network/interfaces"); }

    CTempDir mTmp;
    std::shared_ptr<CFakeConfig> mConfig = std::make_shared<CFakeConfig>();
    CTarvInterfacesFileEditor mEditor{nullptr, mConfig, "/etc/network/interfaces"};
};

} // namespace

TEST_F(InterfacesFileEditorTest, FullStationWithDhcpEverywhere)
{
    mEditor.InitializeFile("charger-1");
    bool ok = true;
    mEditor.SetAsStaticIpv6("plc0", "fe80::0201:87ff:fe12:3456", "64", ok);
    mEditor.SetInterfacesFile(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(File(), "auto lo\n"
                      "iface lo inet loopback\n"
                      "\n"
                      "auto eth0\n"
                      "iface eth0 inet dhcp\n"
                      "hostname charger-1\n"
                      "\n"
                      "auto lte0\n"
                      "iface lte0 inet dhcp\n"
                      "\n"
                      "auto plc0\n"
                      "iface plc0 inet6 static\n"
                      "address fe80::0201:87ff:fe12:3456\n"
                      "netmask 64\n"
                      "\n"
                      "auto wlan0\n"
                      "iface wlan0 inet dhcp\n"
                      "hostname charger-1\n"
                      "\n"
                      "auto uap0\n"
                      "iface uap0 inet static\n"
                      "address 172.16.0.1\n"
                      "netmask 255.255.255.0\n");
    EXPECT_EQ(mEditor.GetFileContent() + "\n", File());
}

TEST_F(InterfacesFileEditorTest, StaticEthernetWithGatewayAndMetric)
{
    mConfig->bools[TarvEthDhcpEnable] = false;
    mConfig->strings = {{TarvEthIpv4Addr, "192.168.1.50"},
                        {TarvEthIpv4Netmask, "255.255.255.0"},
                        {TarvEthGatewayAddr, "192.168.1.1"}};
    mEditor.InitializeFile("charger-1");
    EXPECT_EQ(File(), kLo + "\n\n" +
                          "auto eth0\n"
                          "iface eth0 inet static\n"
                          "hostname charger-1\n"
                          "address 192.168.1.50\n"
                          "netmask 255.255.255.0\n"
                          "gateway 192.168.1.1\n"
                          "metric 10" +
                          "\n\nauto lte0\niface lte0 inet dhcp\n\n\n\n" + kWlanDhcp + "\n\n" + kUap + "\n");
}

TEST_F(InterfacesFileEditorTest, NoGatewayLinesForEmptyOrZeroGatewayOrForWlan)
{
    for (const std::string gateway : {"", "0.0.0.0"}) {
        bool ok = true;
        mEditor.SetAsStaticIpv4("eth0", "charger-1", "10.0.0.5", "255.0.0.0", ok, gateway);
        mEditor.SetAsStaticIpv4("wlan0", "charger-1", "10.1.0.5", "255.255.0.0", ok, "10.1.0.1");
        mEditor.SetInterfacesFile(ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(File(), kLo + "\n\n" + "auto eth0\niface eth0 inet static\nhostname charger-1\naddress 10.0.0.5\n" +
                              "netmask 255.0.0.0\n\n\n\n\n\n" +
                              "auto wlan0\niface wlan0 inet static\nhostname charger-1\naddress 10.1.0.5\n" +
                              "netmask 255.255.0.0\n\n" + kUap + "\n");
    }
}

TEST_F(InterfacesFileEditorTest, MissingInterfacesLeaveTheirSeparators)
{
    mConfig->bools[HwHasEthernet] = false;
    mConfig->bools[HwHasLte] = false;
    mEditor.InitializeFile("charger-1");
    EXPECT_EQ(File(), kLo + "\n\n\n\n\n\n\n\n" + kWlanDhcp + "\n\n" + kUap + "\n");

    bool ok = true;
    mEditor.SetAsStaticIpv6("plc0", "fe80::0201:87ff:fe12:3456", "64", ok);
    mEditor.SetInterfacesFile(ok);
    EXPECT_EQ(File(), kLo + "\n\n\n\n\n\n" + kPlc + "\n\n" + kWlanDhcp + "\n\n" + kUap + "\n");
}

TEST_F(InterfacesFileEditorTest, InitializingTwiceGivesIdenticalBytes)
{
    mConfig->bools[TarvWlanDhcpEnable] = false;
    mConfig->strings = {{TarvWlanIpv4Addr, "10.1.0.5"}, {TarvWlanIpv4Netmask, "255.255.0.0"}};
    mEditor.InitializeFile("charger-1");
    const std::string first = File();
    mEditor.InitializeFile("charger-1");
    EXPECT_EQ(File(), first);
}

TEST_F(InterfacesFileEditorTest, RefusedInterfacesLeaveTheFileUnchanged)
{
    mEditor.InitializeFile("charger-1");
    const std::string before = File();
    const std::string content = mEditor.GetFileContent();
    CLogCapture log;

    bool ok = true;
    mEditor.SetAsDhcp("lte0", "charger-1", ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::warning, "'lte0 interface does not support ip properties"));

    ok = true;
    mEditor.SetAsStaticIpv4("plc0", "charger-1", "10.0.0.1", "255.0.0.0", ok, "");
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::warning, "'plc0 interface does not support ip properties"));

    ok = true;
    mEditor.SetAsStaticIpv6("eth0", "fe80::1", "64", ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::warning, "'eth0 interface does not support ipv6 properties"));

    ok = true;
    mEditor.SetAsDhcp("ETH0", "charger-1", ok);
    EXPECT_FALSE(ok);

    mEditor.SetInterfacesFile(ok);
    EXPECT_EQ(File(), before);
    EXPECT_EQ(mEditor.GetFileContent(), content);

    // A successful call never sets the flag back, and the stanzas were not touched.
    mEditor.SetAsDhcp("eth0", "charger-1", ok);
    EXPECT_FALSE(ok);
    ok = true;
    mEditor.SetInterfacesFile(ok);
    EXPECT_EQ(File(), before);
}

TEST_F(InterfacesFileEditorTest, HostileValuesAreRefusedAndNothingIsWritten)
{
    mEditor.InitializeFile("charger-1");
    const std::string before = File();
    CLogCapture log;

    struct SCase {
        std::string hostname, address, netmask, gateway;
    };
    const std::vector<SCase> cases = {
        {"charger-1\npre-up touch /tmp/owned", "10.0.0.5", "255.0.0.0", ""},
        {"charger-1", "10.0.0.5\npre-up touch /tmp/owned", "255.0.0.0", ""},
        {"charger-1", "10.0.0.5", "255.0.0.0\npre-up touch /tmp/owned", ""},
        {"charger-1", "10.0.0.5", "255.0.0.0", "10.0.0.1\npre-up touch /tmp/owned"},
        {"charger-1", "10.0.0.5 pre-up", "255.0.0.0", ""},
        {"charger 1", "10.0.0.5", "255.0.0.0", ""},
        {"", "10.0.0.5", "255.0.0.0", ""},
        {"charger-1", "", "255.0.0.0", ""},
        {"charger-1", "10.0.0.5", "255.0.255.0", ""},
    };
    for (const auto& c : cases) {
        bool ok = true;
        mEditor.SetAsStaticIpv4("eth0", c.hostname, c.address, c.netmask, ok, c.gateway);
        EXPECT_FALSE(ok) << c.hostname << c.address << c.netmask << c.gateway;
        mEditor.SetInterfacesFile(ok);
        // The stanza was not replaced: a clean write still has the old one.
        ok = true;
        mEditor.SetInterfacesFile(ok);
        EXPECT_EQ(File(), before);
    }
    bool ok = true;
    mEditor.SetAsDhcp("wlan0", "x\npre-up reboot", ok);
    EXPECT_FALSE(ok);
    ok = true;
    mEditor.SetAsStaticIpv6("plc0", "fe80::1\npre-up reboot", "64", ok);
    EXPECT_FALSE(ok);
    ok = true;
    mEditor.SetAsStaticIpv6("plc0", "fe80::1", "64\npre-up reboot", ok);
    EXPECT_FALSE(ok);
    ok = true;
    mEditor.SetInterfacesFile(ok);
    EXPECT_EQ(File(), before);

    EXPECT_TRUE(log.Contains(Log::error, "Invalid IPv4 address '10.0.0.5\\x0apre-up touch /tmp/owned' for eth0, "
                                         "interface settings not changed"));
    EXPECT_TRUE(log.Contains(Log::error, "Invalid hostname 'x\\x0apre-up reboot' for wlan0, "
                                         "interface settings not changed"));
    for (const auto& text : log.Texts()) {
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
}

TEST_F(InterfacesFileEditorTest, RefusedConfigurationOfOneInterfaceKeepsTheOthersInTheFile)
{
    mConfig->bools[TarvEthDhcpEnable] = false;
    mConfig->strings = {{TarvEthIpv4Addr, "192.168.1.50\npre-up reboot"}, {TarvEthIpv4Netmask, "255.255.255.0"}};
    CLogCapture log;
    mEditor.InitializeFile("charger-1");
    EXPECT_EQ(File(), kLo + "\n\n\n\nauto lte0\niface lte0 inet dhcp\n\n\n\n" + kWlanDhcp + "\n\n" + kUap + "\n");
    EXPECT_EQ(log.Texts(Log::error).size(), 1u);
}

TEST_F(InterfacesFileEditorTest, MissingWlanThrowsBeforeAnyStanzaChanges)
{
    mConfig->bools[HwHasWlan] = false;
    CLogCapture log;
    EXPECT_THROW(mEditor.InitializeFile("charger-1"), CTarvException);
    EXPECT_TRUE(log.Contains(Log::error, "Wlan is always required"));
    EXPECT_FALSE(FileExists());

    bool ok = true;
    mEditor.SetInterfacesFile(ok);
    EXPECT_EQ(File(), kLo + "\n\n\n\n\n\n\n\n\n\n" + kUap + "\n");
}

TEST_F(InterfacesFileEditorTest, FalseFlagWritesNothing)
{
    bool ok = false;
    mEditor.SetInterfacesFile(ok);
    EXPECT_FALSE(FileExists());
    EXPECT_EQ(mEditor.GetFileContent(), "");
}

TEST_F(InterfacesFileEditorTest, UnwritableFileThrows)
{
    // A directory in place of the file cannot be replaced.
    std::filesystem::create_directories(mTmp.Path() + "/etc/network/interfaces");
    CLogCapture log;
    bool ok = true;
    EXPECT_THROW(mEditor.SetInterfacesFile(ok), CTarvException);
    EXPECT_TRUE(log.Contains(Log::error, mTmp.Path() + "/etc/network/interfaces could not be modified"));
    EXPECT_EQ(mEditor.GetFileContent(), kLo + "\n\n\n\n\n\n\n\n\n\n" + kUap);
}
