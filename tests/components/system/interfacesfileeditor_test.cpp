#include "src/components/system/tarvinterfacesfileeditor.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using TestSupport::CLogCapture;

namespace {

const std::string kLo = "auto lo\niface lo inet loopback\n\n";
const std::string kUap = "\n\nauto uap0\niface uap0 inet static\naddress 172.16.0.1\nnetmask 255.255.255.0\n";
const SIpv4Stanza kDhcp{true, "charger-1", {}, {}, {}};
const SIpv4Stanza kEthStatic{false, "charger-1", "192.168.1.50", "255.255.255.0", "192.168.1.1"};
const SIpv4Stanza kWlanStatic{false, "charger-1", "10.1.0.5", "255.255.0.0", {}};

const std::map<EConfigKey, bool> kDefaults = {
    {HwHasWlan, true}, {TarvWlanDhcpEnable, true}, {HwHasEthernet, true}, {TarvEthDhcpEnable, true}, {HwHasLte, true}};

class InterfacesFileEditorTest : public ::testing::Test {
protected:
    InterfacesFileEditorTest()
    {
        std::filesystem::create_directories(mTmp.Path() + "/etc/network");
        mConfig->bools = kDefaults;
    }

    std::string File() const { return mTmp.ReadFile("etc/network/interfaces"); }

    TestSupport::CTempRoot mTmp;
    std::shared_ptr<HandlerMocks::CFakeConfig> mConfig = std::make_shared<HandlerMocks::CFakeConfig>();
    CTarvInterfacesFileEditor mEditor{nullptr, mConfig, "/etc/network/interfaces"};
};

} // namespace

// Other processes and stored images rely on this text byte for byte; an
// absent interface keeps its blank line.
TEST(RenderInterfacesFileTest, StanzasInTheirFixedOrder)
{
    const std::vector<std::pair<SInterfacesFile, std::string>> cases = {
        {{}, kLo + "\n\n\n\n\n\n" + kUap},
        {{kEthStatic, true, SIpv6Stanza{"fe80::0201:87ff:fe12:3456", "64"}, kDhcp},
         kLo + "auto eth0\niface eth0 inet static\nhostname charger-1\naddress 192.168.1.50\nnetmask 255.255.255.0"
               "\ngateway 192.168.1.1\nmetric 10\n\nauto lte0\niface lte0 inet dhcp\n\n"
               "auto plc0\niface plc0 inet6 static\naddress fe80::0201:87ff:fe12:3456\nnetmask 64\n"
               "pre-up echo 1 > /proc/sys/net/ipv6/conf/plc0/addr_gen_mode || true\n"
               "pre-up ip -6 addr flush dev plc0 scope link\n\nauto wlan0\niface wlan0 inet dhcp\nhostname charger-1" +
             kUap},
        {{kDhcp, false, {}, kWlanStatic},
         kLo + "auto eth0\niface eth0 inet dhcp\nhostname charger-1\n\n\n\n\n\nauto wlan0\niface wlan0 inet static\n"
               "hostname charger-1\naddress 10.1.0.5\nnetmask 255.255.0.0" + kUap},
    };
    for (const auto& [file, expected] : cases) {
        EXPECT_EQ(RenderInterfacesFile(file), expected);
    }
}

TEST_F(InterfacesFileEditorTest, InitializeFileWritesTheConfiguredStanzas)
{
    // Name, configured flags and values, host name, the stanzas expected.
    const std::vector<std::tuple<const char*, std::map<EConfigKey, bool>, std::map<EConfigKey, std::string>,
                                 std::string, SInterfacesFile>>
        cases = {
        // An unusual but harmless host name is taken as it is.
        {"DHCP everywhere", {}, {}, "EV_Charger_1",
         {SIpv4Stanza{true, "EV_Charger_1", {}, {}, {}}, true, {}, SIpv4Stanza{true, "EV_Charger_1", {}, {}, {}}}},
        {"static Ethernet with gateway", {{TarvEthDhcpEnable, false}},
         {{TarvEthIpv4Addr, "192.168.1.50"}, {TarvEthIpv4Netmask, "255.255.255.0"}, {TarvEthGatewayAddr, "192.168.1.1"}},
         "charger-1", {kEthStatic, true, {}, kDhcp}},
        {"zero gateway is no gateway", {{TarvEthDhcpEnable, false}},
         {{TarvEthIpv4Addr, "10.0.0.5"}, {TarvEthIpv4Netmask, "255.0.0.0"}, {TarvEthGatewayAddr, "0.0.0.0"}},
         "charger-1", {SIpv4Stanza{false, "charger-1", "10.0.0.5", "255.0.0.0", {}}, true, {}, kDhcp}},
        {"static WLAN", {{TarvWlanDhcpEnable, false}, {HwHasEthernet, false}, {HwHasLte, false}},
         {{TarvWlanIpv4Addr, "10.1.0.5"}, {TarvWlanIpv4Netmask, "255.255.0.0"}}, "charger-1",
         {{}, false, {}, kWlanStatic}},
    };
    for (const auto& [name, bools, strings, hostname, expected] : cases) {
        SCOPED_TRACE(name);
        mConfig->bools = bools;
        mConfig->bools.insert(kDefaults.begin(), kDefaults.end()); // the row's values win
        mConfig->strings = strings;
        EXPECT_NO_THROW(CTarvInterfacesFileEditor(nullptr, mConfig, "/etc/network/interfaces").InitializeFile(hostname));
        EXPECT_EQ(File(), RenderInterfacesFile(expected));
    }
}

TEST_F(InterfacesFileEditorTest, RefusedRequestsChangeNothing)
{
    mEditor.InitializeFile("charger-1");
    const std::string before = File();
    CLogCapture log;
    const std::vector<std::function<void(bool&)>> requests = {
        [&](bool& ok) { mEditor.SetAsDhcp("ETH0", "charger-1", ok); },
        [&](bool& ok) { mEditor.SetAsStaticIpv4("plc0", "charger-1", "10.0.0.1", "255.0.0.0", ok, ""); },
        [&](bool& ok) { mEditor.SetAsStaticIpv6("eth0", "fe80::1", "64", ok); },
        // One end-to-end case of a hostile value; the validation table has the rest.
        [&](bool& ok) { mEditor.SetAsStaticIpv4("eth0", "charger-1", "10.0.0.5\npre-up x", "255.0.0.0", ok, ""); },
    };
    for (const auto& request : requests) {
        bool ok = true;
        request(ok);
        EXPECT_FALSE(ok);
        ok = true;
        mEditor.SetInterfacesFile(ok); // the stanzas are as they were
        EXPECT_EQ(File(), before);
    }
    EXPECT_TRUE(log.Contains(Log::error, std::string("Invalid IPv4 address '10.0.0.5\\x0apre-up x' for eth0 (") +
                                             CTarvValidation::kIpv4HostAddressRule +
                                             "), interface settings not changed"));
}

TEST_F(InterfacesFileEditorTest, RequestsReachTheirInterfacesStanza)
{
    mEditor.InitializeFile("charger-1");
    bool ok = true;
    mEditor.SetAsStaticIpv6("plc0", "fe80::0201:87ff:fe12:3456", "64", ok);
    // No gateway for WLAN, whatever the caller passes.
    mEditor.SetAsStaticIpv4("wlan0", "charger-1", "10.1.0.5", "255.255.0.0", ok, "10.1.0.1");
    mEditor.SetInterfacesFile(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(File(), RenderInterfacesFile({kDhcp, true, SIpv6Stanza{"fe80::0201:87ff:fe12:3456", "64"}, kWlanStatic}));
}

// A refused value costs only its interface: the earlier eth0 stanza goes,
// the others are written, the refusal is signalled, initialisation goes on.
TEST_F(InterfacesFileEditorTest, RefusedValueCostsOnlyItsInterface)
{
    mEditor.InitializeFile("charger-1");
    mConfig->bools[TarvEthDhcpEnable] = false;
    mConfig->strings = {{TarvEthIpv4Addr, "192.168.1.50\npre-up reboot"}, {TarvEthIpv4Netmask, "255.255.255.0"}};
    CLogCapture log;
    int signalled = 0;
    CDiagnosticsCommClient::SetSink([&](const CDiagnosticsCommClient::SSample& sample) {
        signalled += sample.identifier == Signals::kInvalidConfigValueError.GetIdentifier();
        return true;
    });
    EXPECT_NO_THROW(mEditor.InitializeFile("charger-1"));
    CDiagnosticsCommClient::SetSink(nullptr);
    EXPECT_EQ(File(), RenderInterfacesFile({{}, true, {}, kDhcp}));
    EXPECT_EQ(signalled, 1);
    EXPECT_TRUE(log.Contains(Log::error, "/etc/network/interfaces written without the configured eth0 settings, "
                                         "eth0 left unconfigured"));
}

// Missing WLAN hardware fails and writes nothing; an unwritable file throws
// and loses nothing.
TEST_F(InterfacesFileEditorTest, FailuresThrowAndWriteOrLoseNothing)
{
    mConfig->bools[HwHasWlan] = false;
    EXPECT_THROW(mEditor.InitializeFile("charger-1"), CTarvException);
    EXPECT_FALSE(std::filesystem::exists(mTmp.Path() + "/etc/network/interfaces"));
    mConfig->bools[HwHasWlan] = true;
    mEditor.InitializeFile("charger-1");
    // A directory in place of the file cannot be replaced.
    std::filesystem::remove(mTmp.Path() + "/etc/network/interfaces");
    std::filesystem::create_directories(mTmp.Path() + "/etc/network/interfaces");
    bool ok = true;
    EXPECT_THROW(mEditor.SetInterfacesFile(ok), CTarvException);
    // The failed write changed nothing: once the path is free again, the same text is written.
    std::filesystem::remove(mTmp.Path() + "/etc/network/interfaces");
    EXPECT_NO_THROW(mEditor.SetInterfacesFile(ok));
    EXPECT_EQ(File(), RenderInterfacesFile({kDhcp, true, {}, kDhcp}));
}
