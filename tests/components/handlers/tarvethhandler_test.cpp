#include "src/components/handlers/tarvethhandler.h"
#include "src/components/handlers/routetable.h"

#include "platform/toolbox/tarvvalidation.h"

#include "tests/components/mocks/handlerfixture.h"

using namespace HandlerMocks;
using namespace ::testing;

namespace {

using Signals = std::vector<std::pair<int, int>>;
const std::string kRouteHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

// A default route line of eth0 through this gateway column.
std::string Route(const std::string& gateway)
{
    return "eth0\t00000000\t" + gateway + "\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
}

// eth0 is up and its DNS manager lists `servers`.
class EthHandlerTest : public CHandlerFixture<StrictMock> {
protected:
    EthHandlerTest()
    {
        config->bools = {{HwHasEthernet, true}, {TarvEthEnable, true}, {TarvEthDhcpEnable, true}, {TarvDnsAuto, true}};
        ON_CALL(*dns, GetDnsServers()).WillByDefault([this] {
            std::deque<std::string> list(servers.begin(), servers.end());
            return servers.empty() ? std::nullopt : std::optional(std::queue<std::string>(list));
        });
    }

    std::unique_ptr<CTarvEthHandler> MakeHandler()
    {
        SHandlerParts parts = Parts();
        parts.ethDnsManager = dns;
        return std::make_unique<CTarvEthHandler>(parts, root.Root() + "proc/net/route");
    }
    // The route table holds these lines after its header; no file for nullopt.
    void SetRoutes(const std::optional<std::string>& lines)
    {
        std::remove((root.Root() + "proc/net/route").c_str());
        if (lines) {
            root.WriteFile("proc/net/route", kRouteHeader + *lines);
        }
    }
    void AddClient(int pid)
    {
        host->AddProcess(pid, "udhcpc", {"udhcpc", "-i", "eth0"});
        root.WriteFile("var/run/udhcpc.eth0.pid", std::to_string(pid) + "\n");
    }

    std::shared_ptr<NiceMock<MockDnsManager>> dns = std::make_shared<NiceMock<MockDnsManager>>();
    std::vector<std::string> servers;
};

TEST_F(EthHandlerTest, StatusCarriesAddressGatewayAndDnsWhileConnected)
{
    // route table lines, the DNS manager's servers; the gateway, primary and secondary server shown
    const std::tuple<std::optional<std::string>, std::vector<std::string>, std::string> cases[] = {
        {Route("0101A8C0"), {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, "192.168.1.1 10.0.0.1 10.0.0.2"},
        // No default route: the zero gateway; no server: empty, never a placeholder address.
        {"", {}, "0.0.0.0  "},
        {std::nullopt, {"10.0.0.1"}, "0.0.0.0 10.0.0.1 "},
    };
    auto handler = MakeHandler();
    AddClient(200);
    host->AddAddress("eth0", "192.168.1.50", "255.255.255.0");
    for (const auto& [routes, dnsServers, expected] : cases) {
        SetRoutes(routes);
        servers = dnsServers;
        const ipc::MNetStatus s = handler->GetStatus();
        EXPECT_EQ(s.connectionstate(), ipc::MNetStatus::EConnected);
        EXPECT_EQ(s.properties().ipaddress() + "/" + s.properties().subnetmask(), "192.168.1.50/255.255.255.0");
        EXPECT_EQ(s.properties().defaultgateway() + " " + s.dns().primarydns() + " " + s.dns().secondarydns(),
                  expected);
    }
}

// Up at the first query counts as the link coming up; down and up again renews
// again, and with static addressing udhcpc is left alone.
TEST_F(EthHandlerTest, AReturningLinkRenewsTheLease)
{
    auto handler = MakeHandler();
    AddClient(200);
    handler->GetStatus();
    for (const bool dhcp : {true, false}) {
        config->bools[TarvEthDhcpEnable] = dhcp;
        linkState = Tarv::kOperStateLowerLayerDown;
        const ipc::MNetStatus down = handler->GetStatus();
        EXPECT_EQ(down.connectionstate(), ipc::MNetStatus::EDisconnected);
        EXPECT_FALSE(down.has_properties() || down.has_dns());
        AddClient(201);
        linkState = Tarv::kOperStateUp;
        handler->GetStatus();
    }
    EXPECT_EQ(host->signals, (Signals{{200, SIGUSR1}, {201, SIGUSR1}}));
}

TEST_F(EthHandlerTest, AMalformedRouteTableIsLoggedOncePerChange)
{
    config->bools[TarvEthDhcpEnable] = false;
    auto handler = MakeHandler();
    const auto gatewayOf = [&](const std::string& column) {
        SetRoutes(Route(column));
        ipc::MNetStatus status;
        EXPECT_NO_THROW(status = handler->GetStatus()) << column;
        return status.properties().defaultgateway();
    };
    // Not hex, over 32 bits, negative (which stoull would wrap), beyond 64 bits.
    for (const std::string column : {"zz", "1FFFFFFFF", "-1", "FFFFFFFFFFFFFFFFFFFF"}) {
        log.Clear();
        EXPECT_EQ(gatewayOf(column) + " " + gatewayOf(column), "0.0.0.0 0.0.0.0"); // the poll sees it twice
        EXPECT_EQ(log.Texts(Log::error).size(), 1u) << column;
    }
    // Parsing stops at the first character that is no hex digit.
    EXPECT_EQ(gatewayOf("FE01A8C0zz"), "192.168.1.254");
    log.Clear();
    gatewayOf("zz"); // a table that turns bad again is reported again
    EXPECT_EQ(log.Texts(Log::error).size(), 1u);
}

// The gateway column of the first line whose columns 1, 2 and 4 match.
TEST(EthGatewayColumnTest, FirstDefaultRouteOfTheInterfaceWithTheGatewayFlags)
{
    const std::string d = "eth0\t00000000\t", tail = "\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::pair<std::string, std::string> cases[] = {
        {d + "0101A8C0\t3" + tail, ""}, // flags compared as text
        {"eth0\t0001A8C0\t0101A8C0\t0003" + tail, ""}, // not a default route
        {"eth0:1\t00000000\t0101A8C0\t0003" + tail, ""}, // another interface
        {d + "0201A8C0\t0003" + tail + d + "0301A8C0\t0003" + tail, "0201A8C0"}, // the first one
        {"  eth0   00000000 \t 0401A8C0  0003  0 0\n", "0401A8C0"}, // blanks and tabs mixed
        {d + "0501A8C0\t0003\r\n", ""}, // a carriage return is part of the field
        {d + "0601A8C0\t0003", "0601A8C0"}, // no final newline
        {d + "0701A8C0\n" + d + "0801A8C0\t0003\n", "0801A8C0"}, // a short line first
    };
    for (const auto& [lines, gateway] : cases) {
        EXPECT_EQ(CRouteTable::GatewayColumn(kRouteHeader + lines, "eth0").value_or(""), gateway) << lines;
    }
}

TEST_F(EthHandlerTest, BadStaticValuesOrNoHostnameNeverReachTheInterfacesFile)
{
    config->bools[TarvEthDhcpEnable] = config->bools[TarvEthEnable] = false;
    // Each refusal states the rule the value breaks.
    const std::string address = std::string(" (") + CTarvValidation::kIpv4HostAddressRule + ")";
    const std::string netmask = std::string(" (") + CTarvValidation::kIpv4NetmaskRule + ")";
    const struct { std::string address, netmask, gateway, error; } cases[] = {
        {"192.168.1.50", "", "", "IP address or netmask are empty for eth0 static properties"},
        {"192.168.1.50\nup reboot", "255.255.255.0", "",
         "Static IP address '192.168.1.50\\x0aup reboot' for eth0 is not a valid IPv4 address" + address},
        {"192.168.1.50", "255.0.255.0", "", "Static netmask '255.0.255.0' for eth0 is not a valid IPv4 netmask" + netmask},
        {"192.168.1.50", "255.255.255.0", "gw", "Static gateway 'gw' for eth0 is not a valid IPv4 address" + address},
        {"192.168.1.50", "255.255.255.0", "192.168.1.1", ""}, // valid, but the file editor refuses the stanza
        {"192.168.1.50", "255.255.255.0", "0.0.0.0", ""},     // no gateway
    };
    auto handler = MakeHandler();
    for (const auto& c : cases) {
        log.Clear();
        config->strings = {{TarvEthIpv4Addr, c.address}, {TarvEthIpv4Netmask, c.netmask}, {TarvEthGatewayAddr, c.gateway}};
        if (c.error.empty()) {
            EXPECT_CALL(*editor, SetAsStaticIpv4("eth0", _, c.address, c.netmask, _, c.gateway))
                .WillOnce(SetArgReferee<4>(false));
            EXPECT_CALL(*editor, SetInterfacesFile(_));
        }
        EXPECT_FALSE(OkAfter(*handler, &CTarvEthHandler::SetIfProperties));
        EXPECT_TRUE(c.error.empty() || log.Contains(Log::error, c.error)) << c.error;
    }
    ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::nullopt));
    EXPECT_FALSE(OkAfter(*handler, &CTarvEthHandler::SetIfProperties));
    EXPECT_TRUE(log.Contains(Log::error, "Could not get hostname"));
}

TEST_F(EthHandlerTest, NewStanzaGoesInWhileDownAndARestartFailureIsOnlyAWarning)
{
    config->bools[TarvDnsAuto] = false;
    config->strings = {
        {TarvEthIpv4Addr, "192.168.1.50"}, {TarvEthIpv4Netmask, "255.255.255.0"}, {TarvEthGatewayAddr, "192.168.1.1"}};
    for (const bool dhcp : {false, true}) { // the DHCP row's ifup fails
        SCOPED_TRACE(dhcp);
        log.Clear();
        config->bools[TarvEthDhcpEnable] = dhcp;
        auto handler = MakeHandler();
        {
            // Down under the old stanza (a DHCP one stops its client), then the new stanza, then up.
            InSequence order;
            EXPECT_CALL(*runner, Run("ip link set dev eth0 down", 5u)).WillOnce(Return(SCommandResult{0, ""}));
            EXPECT_CALL(*runner, Run("ifdown eth0", 0u)).WillOnce(Return(SCommandResult{0, ""}));
            EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
            EXPECT_CALL(*dns, UpdateSystemResolvConf());
            if (dhcp) {
                EXPECT_CALL(*editor, SetAsDhcp("eth0", "charger-1", _));
            } else {
                EXPECT_CALL(*editor, SetAsStaticIpv4("eth0", "charger-1", "192.168.1.50", "255.255.255.0", _,
                                                     "192.168.1.1"));
            }
            EXPECT_CALL(*editor, SetInterfacesFile(_));
            EXPECT_CALL(*runner, Run("ifup eth0", 0u)).WillOnce(Return(SCommandResult{dhcp ? 1 : 0, ""}));
            if (dhcp) {
                EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", Tarv::kOperStateUp)).WillOnce(Return(false));
            } else {
                EXPECT_CALL(*dns, UpdateSystemResolvConf());
            }
        }
        EXPECT_TRUE(OkAfter(*handler, &CTarvEthHandler::SetIfProperties));
        EXPECT_EQ(log.Texts(Log::error).empty(), !dhcp);
        EXPECT_EQ(log.Contains(Log::warning, "eth0 could not be restarted after setting static IP properties"), dhcp);
        Mock::VerifyAndClearExpectations(dns.get());
    }
}

TEST_F(EthHandlerTest, SetDnsRenewsTheLeaseOrHandsStaticServersToTheDnsManager)
{
    config->strings = {{TarvPreferredDnsServerAddr, "192.168.1.1"}, {TarvAlternativeDnsServerAddr, "8.8.8.8"}};
    AddClient(200);
    // signalError: what the renew signal gives.
    const struct { bool dnsAuto, enabled, client; int signalError; bool accepted, ok; Signals sent; const char* error; }
        cases[] = {
        {true, true, false, 0, false, false, {}, "Could not get pid of eth udhcpc process"},
        {true, true, true, 0, false, true, {{200, SIGUSR1}}, nullptr},
        {true, true, true, EPERM, false, false, {{200, SIGUSR1}}, "Could not get DNS information from the network"},
        {true, false, true, 0, false, true, {}, nullptr}, // interface switched off: nothing to renew
        {false, true, false, 0, true, true, {}, nullptr},
        {false, true, false, 0, false, false, {}, "Could not set static DNS"},
    };
    auto handler = MakeHandler();
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        log.Clear();
        host->signals.clear();
        config->bools[TarvDnsAuto] = c.dnsAuto;
        config->bools[TarvEthEnable] = c.enabled;
        root.WriteFile("var/run/udhcpc.eth0.pid", c.client ? "200\n" : "");
        host->signalError = c.signalError;
        ON_CALL(*dns, SetDnsServers(_)).WillByDefault(Return(c.accepted));
        EXPECT_CALL(*dns, SetDnsServers(ElementsAre("192.168.1.1", "8.8.8.8"))).Times(c.dnsAuto ? 0 : 1);
        // Automatic DNS withdraws the static servers, so the lease's apply.
        EXPECT_CALL(*dns, ClearDnsServers()).Times(c.dnsAuto ? 1 : 0);
        EXPECT_EQ(OkAfter(*handler, &CTarvEthHandler::SetDns), c.ok);
        EXPECT_EQ(host->signals, c.sent);
        EXPECT_TRUE(c.error == nullptr || log.Contains(Log::error, c.error));
        // Said once, and only where the DNS servers were to be set.
        EXPECT_EQ(log.Count("Failed to set DNS addresses"), c.dnsAuto || c.ok ? 0u : 1u);
        Mock::VerifyAndClearExpectations(dns.get());
    }
    config->bools[HwHasEthernet] = false; // without the hardware neither call changes anything
    auto bare = MakeHandler();
    EXPECT_TRUE(OkAfter(*bare, &CTarvEthHandler::SetIfProperties));
    EXPECT_TRUE(OkAfter(*bare, &CTarvEthHandler::SetDns));
}

} // namespace
