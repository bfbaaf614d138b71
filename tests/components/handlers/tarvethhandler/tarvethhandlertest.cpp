#include "src/components/handlers/tarvethhandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrictMock;

namespace {

const std::string kRouteHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

// The shell pipeline the status query used to run for the gateway, on a file.
std::string PipelineGateway(const std::string& path)
{
    const std::string command = "cat " + path +
                                " | awk '{if (($1 == \"eth0\") && ($2 == \"00000000\") && ($4 == \"0003\")) print $3;}'"
                                " | awk 'NR==1 {print $0}'";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) {
            output += buffer;
        }
        pclose(pipe);
    }
    if (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return output;
}

class EthHandlerTest : public ::testing::Test {
protected:
    EthHandlerTest()
    {
        CRootDir::Set(root.Root());
        config->bools[HwHasEthernet] = true;
        config->bools[TarvEthEnable] = true;
        config->bools[TarvEthDhcpEnable] = true;
        config->bools[TarvDnsAuto] = true;
        ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::optional<std::string>("charger-1")));
    }
    ~EthHandlerTest() override { CRootDir::Set("/"); }

    std::unique_ptr<CTarvEthHandler> MakeHandler()
    {
        return std::make_unique<CTarvEthHandler>(config, runner, errorHandler, editor, netlink, hostname, dns, clock,
                                                 host, root.Root() + "proc/net/route");
    }

    // One status query that finds eth0 in the given operational state.
    void ExpectLink(std::uint8_t state)
    {
        EXPECT_CALL(*netlink, ConnectSocket()).WillOnce(Return(FakeSocket()));
        EXPECT_CALL(*netlink, GetLink(FakeSocket(), "eth0")).WillOnce(Return(FakeLink()));
        EXPECT_CALL(*netlink, GetLinkState(FakeLink())).WillOnce(Return(state));
        EXPECT_CALL(*netlink, DeleteExternalNetlinkPointers(FakeSocket(), FakeLink()));
    }

    // One status query that finds eth0 up, a default route through this
    // gateway column (none for "", no route table for nullopt) and these resolvers.
    void ExpectUpStatus(std::optional<std::string> gateway = "", const std::vector<std::string>& servers = {})
    {
        ExpectLink(Tarv::kOperStateUp);
        std::remove((root.Root() + "proc/net/route").c_str());
        if (gateway) {
            const std::string route =
                gateway->empty() ? "" : "eth0\t00000000\t" + *gateway + "\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
            root.WriteFile("proc/net/route", kRouteHeader + route);
        }
        std::queue<std::string> queue;
        for (const auto& server : servers) {
            queue.push(server);
        }
        EXPECT_CALL(*dns, GetDnsServers())
            .WillOnce(Return(servers.empty() ? std::nullopt : std::optional<std::queue<std::string>>(queue)));
    }

    void WritePidFile(int pid) { root.WriteFile("var/run/udhcpc.eth0.pid", std::to_string(pid) + "\n"); }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<StrictMock<MockRunCommand>> runner = std::make_shared<StrictMock<MockRunCommand>>();
    std::shared_ptr<StrictMock<MockTarvErrorHandler>> errorHandler =
        std::make_shared<StrictMock<MockTarvErrorHandler>>();
    std::shared_ptr<StrictMock<MockInterfacesFileEditor>> editor =
        std::make_shared<StrictMock<MockInterfacesFileEditor>>();
    std::shared_ptr<StrictMock<MockTarvNetlink>> netlink = std::make_shared<StrictMock<MockTarvNetlink>>();
    std::shared_ptr<NiceMock<MockHostnameManager>> hostname = std::make_shared<NiceMock<MockHostnameManager>>();
    std::shared_ptr<StrictMock<MockDnsManager>> dns = std::make_shared<StrictMock<MockDnsManager>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CFakeHostSystem> host = std::make_shared<CFakeHostSystem>();
    TestSupport::CLogCapture log;
};

using Signals = std::vector<std::pair<int, int>>;

TEST_F(EthHandlerTest, ConnectedStatusCarriesAddressGatewayAndFirstTwoDnsServers)
{
    struct SCase {
        std::optional<std::string> route;
        std::vector<std::string> servers;
        std::string gateway, primary, secondary;
    };
    const SCase cases[] = {
        {"0101A8C0", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, "192.168.1.1", "10.0.0.1", "10.0.0.2"},
        // No default route and no resolver file: zero addresses.
        {"", {}, "0.0.0.0", "0.0.0.0", "0.0.0.0"},
        {std::nullopt, {"10.0.0.1"}, "0.0.0.0", "10.0.0.1", "0.0.0.0"},
    };
    config->bools[TarvEthDhcpEnable] = false;
    auto handler = MakeHandler();
    // Static addressing: the link coming up leaves udhcpc alone.
    host->AddProcess(200, "udhcpc", {"udhcpc", "-i", "eth0"});
    WritePidFile(200);
    host->AddAddress("eth0", "192.168.1.50", "255.255.255.0");
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.gateway + " " + c.primary);
        ExpectUpStatus(c.route, c.servers);
        const ipc::MNetStatus status = handler->GetStatus();
        EXPECT_EQ(status.connectionstate(), ipc::MNetStatus::EConnected);
        EXPECT_EQ(status.properties().ipaddress(), "192.168.1.50");
        EXPECT_EQ(status.properties().subnetmask(), "255.255.255.0");
        EXPECT_EQ(status.properties().defaultgateway(), c.gateway);
        EXPECT_EQ(status.dns().primarydns(), c.primary);
        EXPECT_EQ(status.dns().secondarydns(), c.secondary);
    }
    EXPECT_TRUE(host->signals.empty());
}

TEST_F(EthHandlerTest, MalformedRouteTableNeverEndsTheStatusQuery)
{
    config->bools[TarvEthDhcpEnable] = false;
    auto handler = MakeHandler();
    for (const std::string text : {"zz", "1FFFFFFFF", "-1", "FFFFFFFFFFFFFFFFFFFF", "\x1b[2J"}) {
        SCOPED_TRACE(text);
        log.Clear();
        // The status poll sees the same table twice: one error line.
        for (int poll = 0; poll < 2; ++poll) {
            ExpectUpStatus(text);
            ipc::MNetStatus status;
            ASSERT_NO_THROW(status = handler->GetStatus());
            EXPECT_EQ(status.properties().defaultgateway(), "0.0.0.0");
        }
        EXPECT_EQ(log.Texts(Log::error).size(), 1u);
    }
    // Parsing stops at the first character that is no hex digit, as before.
    ExpectUpStatus("FE01A8C0zz");
    EXPECT_EQ(handler->GetStatus().properties().defaultgateway(), "192.168.1.254");
    // A table that turns bad again is reported again.
    log.Clear();
    ExpectUpStatus("zz");
    handler->GetStatus();
    EXPECT_EQ(log.Texts(Log::error).size(), 1u);
}

TEST_F(EthHandlerTest, GatewayFromTheRouteTableMatchesTheShellPipelineItReplaces)
{
    const std::string d = "eth0\t00000000\t";
    const std::string tail = "\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string tables[] = {
        "",
        kRouteHeader,
        kRouteHeader + d + "0101A8C0\t0003" + tail,
        kRouteHeader + "wlan0\t00000000\t0101A8C0\t0003" + tail,
        kRouteHeader + d + "0101A8C0\t0001" + tail,               // no gateway flag
        kRouteHeader + d + "0101A8C0\t3" + tail,                  // flags compared as text
        kRouteHeader + "eth0\t0001A8C0\t0101A8C0\t0003" + tail, // not a default route
        kRouteHeader + d + "0201A8C0\t0003" + tail + d + "0301A8C0\t0003" + tail, // the first one
        kRouteHeader + "eth0:1\t00000000\t0101A8C0\t0003" + tail,
        kRouteHeader + "  eth0   00000000 \t 0401A8C0  0003  0 0\n",  // blanks and tabs mixed
        kRouteHeader + d + "0501A8C0\t0003\r\n",                   // a carriage return is part of the field
        kRouteHeader + d + "0601A8C0\t0003",                       // no final newline
        kRouteHeader + d + "0701A8C0\n" + d + "0801A8C0\t0003\n", // a short line first
    };
    const std::string path = root.Root() + "route";
    for (const std::string& table : tables) {
        SCOPED_TRACE(table);
        root.WriteFile("route", table);
        EXPECT_EQ(CTarvEthHandler::GatewayColumn(table, "eth0").value_or(""), PipelineGateway(path));
    }
}

TEST_F(EthHandlerTest, DownLinkHasNoPropertiesAndRenewsWhenItComesBack)
{
    auto handler = MakeHandler();
    host->AddProcess(200, "udhcpc", {"udhcpc", "-i", "eth0"});
    WritePidFile(200);

    // Up at the first query counts as a transition: renew.
    ExpectUpStatus();
    handler->GetStatus();

    ExpectLink(Tarv::kOperStateLowerLayerDown);
    const ipc::MNetStatus down = handler->GetStatus();
    EXPECT_EQ(down.connectionstate(), ipc::MNetStatus::EDisconnected);
    EXPECT_FALSE(down.has_properties());
    EXPECT_FALSE(down.has_dns());

    host->AddProcess(201, "udhcpc", {"udhcpc", "-i", "eth0"});
    WritePidFile(201);
    ExpectUpStatus();
    handler->GetStatus();
    EXPECT_EQ(host->signals, (Signals{{200, SIGUSR1}, {201, SIGUSR1}}));
}

class EthStaticTest : public EthHandlerTest {
protected:
    EthStaticTest()
    {
        config->bools[TarvEthDhcpEnable] = false;
        config->bools[TarvEthEnable] = false;
        config->strings[TarvEthIpv4Addr] = "192.168.1.50";
        config->strings[TarvEthIpv4Netmask] = "255.255.255.0";
        config->strings[TarvEthGatewayAddr] = "192.168.1.1";
    }
};

TEST_F(EthStaticTest, EmptyOrMalformedValuesNeverReachTheInterfacesFile)
{
    struct SCase {
        std::string address, netmask, gateway, error;
    };
    const SCase cases[] = {
        {"192.168.1.50", "", "", "IP address or netmask are empty for eth0 static properties"},
        {"192.168.1.50\nup reboot", "255.255.255.0", "",
         "Static IP address '192.168.1.50\\x0aup reboot' for eth0 is not a valid IPv4 address"},
        {"192.168.1.50", "255.0.255.0", "", "Static netmask '255.0.255.0' for eth0 is not a valid IPv4 netmask"},
        {"192.168.1.50", "255.255.255.0", "gw", "Static gateway 'gw' for eth0 is not a valid IPv4 address"},
        {"192.168.1.50", "255.255.255.0", "192.168.1.1", ""}, // valid, but the file editor refuses the stanza
    };
    auto handler = MakeHandler();
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.error);
        log.Clear();
        config->strings[TarvEthIpv4Addr] = c.address;
        config->strings[TarvEthIpv4Netmask] = c.netmask;
        config->strings[TarvEthGatewayAddr] = c.gateway;
        if (c.error.empty()) {
            EXPECT_CALL(*editor, SetAsStaticIpv4("eth0", _, c.address, c.netmask, _, c.gateway))
                .WillOnce(SetArgReferee<4>(false));
            EXPECT_CALL(*editor, SetInterfacesFile(_));
        }
        bool ok = true;
        handler->SetIfProperties(ok);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(c.error.empty() || log.Contains(Log::error, c.error));
        EXPECT_TRUE(log.Contains(Log::error, "Failed to set static IP address for eth0"));
    }
}

TEST_F(EthStaticTest, NewStanzaGoesInWhileDownAndARestartFailureIsOnlyAWarning)
{
    config->bools[TarvEthEnable] = true;
    config->bools[TarvDnsAuto] = false;
    for (const bool dhcp : {false, true}) { // the DHCP row's ifup fails
        SCOPED_TRACE(dhcp);
        log.Clear();
        config->bools[TarvEthDhcpEnable] = dhcp;
        auto handler = MakeHandler();
        {
            // Down under the old stanza (a DHCP one stops its client), then
            // the new stanza, then up.
            InSequence order;
            EXPECT_CALL(*runner, Run("ip link set dev eth0 down", 5u)).WillOnce(Return(SCommandResult{0, ""}));
            EXPECT_CALL(*runner, Run("ifdown eth0", 0u)).WillOnce(Return(SCommandResult{0, ""}));
            EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
            EXPECT_CALL(*dns, UpdateSystemResolvConf());
            if (dhcp) {
                EXPECT_CALL(*editor, SetAsDhcp("eth0", "charger-1", _));
            } else {
                EXPECT_CALL(*editor,
                            SetAsStaticIpv4("eth0", "charger-1", "192.168.1.50", "255.255.255.0", _, "192.168.1.1"));
            }
            EXPECT_CALL(*editor, SetInterfacesFile(_));
            EXPECT_CALL(*runner, Run("ifup eth0", 0u)).WillOnce(Return(SCommandResult{dhcp ? 1 : 0, ""}));
            if (dhcp) {
                EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", Tarv::kOperStateUp)).WillOnce(Return(false));
            } else {
                EXPECT_CALL(*dns, UpdateSystemResolvConf());
            }
        }
        bool ok = true;
        handler->SetIfProperties(ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(log.Texts(Log::error).empty(), !dhcp);
        EXPECT_EQ(log.Contains(Log::warning, "eth0 could not be restarted after setting static IP properties"), dhcp);
        testing::Mock::VerifyAndClearExpectations(runner.get());
        testing::Mock::VerifyAndClearExpectations(editor.get());
    }
}

TEST_F(EthStaticTest, NoHostnameOrNoHardware)
{
    EXPECT_CALL(*hostname, GetHostname()).WillOnce(Return(std::nullopt));
    bool ok = true;
    MakeHandler()->SetIfProperties(ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::error, "Could not get hostname"));

    config->bools[HwHasEthernet] = false;
    auto handler = MakeHandler();
    ok = true;
    handler->SetIfProperties(ok);
    handler->SetDns(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(log.Count("eth0 not suported"), 2u);
}

TEST_F(EthHandlerTest, AutomaticDnsRenewsTheLease)
{
    auto handler = MakeHandler();
    bool ok = true;
    handler->SetDns(ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::error, "Could not get pid of eth udhcpc process"));
    EXPECT_FALSE(log.Contains(Log::error, "Failed to set DNS addresses"));

    host->AddProcess(200, "udhcpc", {"udhcpc", "-i", "eth0"});
    WritePidFile(200);
    ok = true;
    handler->SetDns(ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(host->signals, (Signals{{200, SIGUSR1}}));

    // Interface switched off: nothing to renew, and nothing else touched.
    config->bools[TarvEthEnable] = false;
    ok = true;
    handler->SetDns(ok);
    EXPECT_TRUE(ok);
}

TEST_F(EthHandlerTest, StaticDnsGoesToTheDnsManager)
{
    config->bools[TarvDnsAuto] = false;
    config->strings[TarvPreferredDnsServerAddr] = "192.168.1.1";
    config->strings[TarvAlternativeDnsServerAddr] = "8.8.8.8";
    auto handler = MakeHandler();
    EXPECT_CALL(*dns, SetDnsServers(ElementsAre("192.168.1.1", "8.8.8.8")))
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    bool ok = true;
    handler->SetDns(ok);
    EXPECT_TRUE(ok);
    handler->SetDns(ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::error, "Could not set static DNS"));
    EXPECT_EQ(log.Count("Failed to set DNS addresses"), 1u);

    // Automatic DNS without DHCP: nothing to do, but a flag that came in false is reported.
    config->bools[TarvDnsAuto] = true;
    config->bools[TarvEthDhcpEnable] = false;
    handler->SetDns(ok);
    EXPECT_EQ(log.Count("Failed to set DNS addresses"), 2u);
}

} // namespace
