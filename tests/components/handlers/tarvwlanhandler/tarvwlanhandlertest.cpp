#include "tests/components/handlers/tarvwlanhandler/wlanhandlerfixture.h"

#include "src/components/system/tarvexception.h"

#include <stdexcept>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::Return;
using ::testing::StrEq;
using Record = ITarvWifiScan::SScanRecord;

namespace {

using WlanHandlerTest = WlanHandlerFixture;

Record Rec(std::string ssid, std::uint32_t mhz, std::int32_t mbm, std::uint32_t complete = 1)
{
    Record r;
    r.ssid = std::move(ssid);
    r.frequencyMhz = mhz;
    r.signalMbm = mbm;
    r.complete = complete;
    return r;
}

std::vector<std::string> Entries(const ipc::MScanWlan& scan)
{
    std::vector<std::string> entries;
    for (const auto& n : scan.networks()) {
        entries.push_back(n.ssid() + " " + std::to_string(n.signallevel()) + " ch" + std::to_string(n.channel()) +
                          " " + n.security());
    }
    return entries;
}

TEST_F(WlanHandlerTest, ScanListsStrongestUsable24GhzNetworksOnce)
{
    struct SCase {
        const char* what;
        std::vector<Record> records;
        std::vector<std::string> entries;
    };
    const SCase cases[] = {
        {"strongest of a name wins, order by signal",
         {Rec("Home", 2412, -7000), Rec("Cafe", 2462, -4000), Rec("Home", 2412, -5000)},
         {"Cafe -40 ch11 wpa2", "Home -50 ch1 wpa2"}},
        {"dBm truncated toward zero, channel from frequency", {Rec("Six", 2437, -6312)}, {"Six -63 ch6 wpa2"}},
        {"signal floor", {Rec("Weak", 2412, -8500), Rec("Edge", 2472, -8499)}, {"Edge -84 ch13 wpa2"}},
        {"5 GHz, channel 14 and garbage frequencies dropped",
         {Rec("Five", 5180, -3000), Rec("Japan", 2484, -3000), Rec("Zero", 0, -3000), Rec("Low", 2400, -3000)},
         {}},
        {"empty name, incomplete record, name that is not UTF-8",
         {Rec("", 2412, -3000), Rec("Half", 2412, -3000, 0), Rec("\xff\xfe", 2412, -3000),
          Rec("Caf\xc3\xa9", 2412, -3100)},
         {"Caf\xc3\xa9 -31 ch1 wpa2"}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        scan->scans = {{static_cast<int>(c.records.size()), c.records}};
        const ipc::MScanWlan reply = Handler().ScanWlan();
        EXPECT_TRUE(reply.success());
        EXPECT_EQ(Entries(reply), c.entries);
    }
    EXPECT_EQ(scan->OpenHandles(), 0);
}

TEST_F(WlanHandlerTest, ScanNeverReadsPastTheRecordsOrTheBuffer)
{
    std::vector<Record> many;
    for (int i = 0; i < 150; ++i) {
        many.push_back(Rec("net" + std::to_string(i), 2412, -3000 - i));
    }
    const std::pair<int, std::size_t> cases[] = {
        {150, 100},          // a radio reporting more than the buffer holds
        {500, 100},          // a count beyond the records
        {20, 20},            // a count below them
    };
    for (const auto& [count, listed] : cases) {
        scan->scans = {{count, many}};
        EXPECT_EQ(static_cast<std::size_t>(Handler().ScanWlan().networks_size()), listed) << count;
    }
}

TEST_F(WlanHandlerTest, FailingScanRetriesWithTheInterfaceUpThenGivesUp)
{
    struct SCase {
        int failures;
        bool success;
    };
    for (const SCase c : {SCase{3, true}, SCase{10, false}}) {
        SCOPED_TRACE(c.failures);
        log.Clear();
        scan->scans.assign(static_cast<std::size_t>(c.failures), {-1, {}});
        scan->scans.push_back({1, {Rec("Home", 2412, -5000)}});
        EXPECT_CALL(*runner, Run("ip link set wlan0 up", 0u)).Times(c.failures);
        const ipc::MScanWlan reply = Handler().ScanWlan();
        EXPECT_EQ(reply.success(), c.success);
        EXPECT_EQ(reply.networks_size(), c.success ? 1 : 0);
        const auto warnings = log.Texts(Log::warning);
        ASSERT_EQ(warnings.size(), static_cast<std::size_t>(c.failures));
        EXPECT_EQ(warnings.front(), "Unable to get scan data retry #0");
        EXPECT_EQ(warnings.back(), "Unable to get scan data retry #" + std::to_string(c.failures - 1));
        EXPECT_EQ(log.Contains(Log::error, "Unable to scan for wlan"), !c.success);
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
    }
}

TEST_F(WlanHandlerTest, ScanWithWlanDisabledPutsTheInterfaceDownAgain)
{
    config->bools[TarvWlanEnable] = false;
    scan->scans = {{0, {}}};
    EXPECT_CALL(*runner, Run("ip link set wlan0 down", 0u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_TRUE(Handler().ScanWlan().success());
    EXPECT_CALL(*runner, Run("ip link set wlan0 down", 0u)).WillOnce(Return(SCommandResult{1, ""}));
    EXPECT_THROW(Handler().ScanWlan(), CTarvException);
    EXPECT_EQ(scan->OpenHandles(), 0);
}

TEST_F(WlanHandlerTest, PollMapsLinkAndAssociationIntoTheCachedStatus)
{
    struct SCase {
        const char* what;
        std::uint8_t link;
        ITarvWifiScan::SStationResult station;
        ipc::MNetStatus::EConnectionState state;
        std::int32_t signal;
        std::string address;
    };
    const SCase cases[] = {
        {"associated", Tarv::kOperStateUp, {1, {{}, "Home", 0, -61}}, ipc::MNetStatus::EConnected, -61, "192.168.8.20"},
        {"not associated", Tarv::kOperStateUp, {0, {}}, ipc::MNetStatus::EDisconnected, -1000, ""},
        {"no BSS status", Tarv::kOperStateUp, {1, {{}, "Home", -1, -61}}, ipc::MNetStatus::EDisconnected, -1000, ""},
        {"station query error", Tarv::kOperStateUp, {-1, {}}, ipc::MNetStatus::ENotSet, -1000, ""},
        {"garbage result code", Tarv::kOperStateUp, {-7, {}}, ipc::MNetStatus::ENotSet, -1000, ""},
        {"link down", Tarv::kOperStateDown, {1, {{}, "Home", 0, -61}}, ipc::MNetStatus::EDisconnected, -1000, ""},
        {"link dormant", Tarv::kOperStateDormant, {1, {}}, ipc::MNetStatus::EDisconnected, -1000, ""},
        {"link state unknown", Tarv::kOperStateUnknown, {1, {}}, ipc::MNetStatus::ENotSet, -1000, ""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        linkState = c.link;
        scan->SetStation(c.station);
        Handler().UpdateNetworkStatus();
        const ipc::MNetStatus status = Handler().GetStatus();
        EXPECT_EQ(status.interface(), ipc::EWlan0);
        EXPECT_EQ(status.connectionstate(), c.state);
        EXPECT_EQ(status.signalstrength(), c.signal);
        EXPECT_EQ(status.properties().ipaddress(), c.address);
        EXPECT_EQ(status.properties().subnetmask(), c.address.empty() ? "" : "255.255.255.0");
    }
    EXPECT_EQ(scan->OpenHandles(), 0);
}

TEST_F(WlanHandlerTest, PollSurvivesAMissingInterfaceAndLogsALastingFailureOnce)
{
    EXPECT_CALL(*netlink, GetLink(_, "wlan0")).WillRepeatedly([](nl_sock*, const std::string&) -> rtnl_link* {
        throw CTarvException();
    });
    for (int poll = 0; poll < 3; ++poll) {
        ASSERT_NO_THROW(Handler().UpdateNetworkStatus());
    }
    EXPECT_EQ(Handler().GetStatus().connectionstate(), ipc::MNetStatus::ENotSet);
    EXPECT_EQ(log.Texts(Log::error).size(), 1u);
}

TEST_F(WlanHandlerTest, ConnectionIsAnnouncedOnceUntilDisconnect)
{
    for (int poll = 0; poll < 3; ++poll) {
        Handler().UpdateNetworkStatus();
    }
    EXPECT_EQ(log.Count("Established connection to \"Home\""), 1u);
    Handler().Disconnect();
    Handler().UpdateNetworkStatus();
    EXPECT_EQ(log.Count("Established connection to \"Home\""), 2u);
}

TEST_F(WlanHandlerTest, DisableLeavesTheCachedStatusDisconnected)
{
    Handler().UpdateNetworkStatus();
    ASSERT_EQ(Handler().GetStatus().connectionstate(), ipc::MNetStatus::EConnected);
    bool ok = true;
    Handler().Disable(ok);
    const ipc::MNetStatus status = Handler().GetStatus();
    EXPECT_TRUE(ok);
    EXPECT_EQ(status.connectionstate(), ipc::MNetStatus::EDisconnected);
    EXPECT_EQ(status.signalstrength(), -1000);
    EXPECT_EQ(status.properties().ipaddress(), "");
    EXPECT_EQ(status.properties().subnetmask(), "");
}

TEST_F(WlanHandlerTest, EnableStartsTheSupplicantAndThePoll)
{
    EXPECT_CALL(*supplicant, StartWpaSupplicant(StrEq("wlan0"), StrEq("Home"), StrEq(kPassphrase)))
        .WillOnce(Return(true));
    EXPECT_CALL(*supplicant, StopWpaSupplicant()).Times(0);
    bool ok = true;
    Handler().Enable(ok);
    EXPECT_TRUE(ok);
    scan->WaitForStationQueries(1); // the first poll runs at once
    clock->Advance(CTarvWlanHandler::kStatusPollPeriod);
    scan->WaitForStationQueries(2); // and again a period later
    Handler().Disconnect();
    EXPECT_EQ(Handler().GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
}

TEST_F(WlanHandlerTest, EnableThatCannotConnectStopsTheSupplicant)
{
    struct SCase {
        const char* what;
        std::string ssid, passphrase;
        bool starts;
        bool dhcp;
    };
    const SCase cases[] = {
        {"supplicant does not start", "Home", kPassphrase, false, false},
        {"no udhcpc to renew", "Home", kPassphrase, true, true},
        {"passphrase too short", "Home", "short", true, false},
        {"SSID without passphrase", "Home", "", true, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        config->strings[TarvSsid] = c.ssid;
        config->strings[WlanStaPassword] = c.passphrase;
        config->bools[TarvWlanDhcpEnable] = c.dhcp;
        ON_CALL(*supplicant, StartWpaSupplicant(_, _, _)).WillByDefault(Return(c.starts));
        EXPECT_CALL(*supplicant, StopWpaSupplicant());
        bool ok = true;
        Handler().Enable(ok);
        EXPECT_FALSE(ok);
        ::testing::Mock::VerifyAndClearExpectations(supplicant.get());
    }
}

TEST_F(WlanHandlerTest, EnableWithoutCredentialsOnlyBringsTheInterfaceUp)
{
    config->strings[TarvSsid] = "";
    config->strings[WlanStaPassword] = "";
    EXPECT_CALL(*runner, Run("ifup wlan0", 0u));
    EXPECT_CALL(*supplicant, StartWpaSupplicant(_, _, _)).Times(0);
    EXPECT_CALL(*supplicant, StopWpaSupplicant()).Times(0);
    bool ok = true;
    Handler().Enable(ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(log.Contains(Log::info, "Empty WLAN credentials, not starting wpa_supplicant"));
}

TEST_F(WlanHandlerTest, InvalidCredentialsClearTheSupplicant)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", kPassphrase}, {std::string(33, 's'), kPassphrase}, {"Home", "seven77"}, {"Home", "line\nbreak!"}};
    for (const auto& [ssid, passphrase] : cases) {
        SCOPED_TRACE(ssid + "/" + std::to_string(passphrase.size()));
        config->strings[TarvSsid] = ssid;
        config->strings[WlanStaPassword] = passphrase;
        {
            ::testing::InSequence order;
            EXPECT_CALL(*supplicant, StartWpaSupplicant(StrEq("wlan0"), StrEq(""), StrEq("")));
            EXPECT_CALL(*supplicant, StopWpaSupplicant());
        }
        EXPECT_CALL(*runner, Run("ifup wlan0", _)).Times(0);
        bool ok = true;
        Handler().SetCredentialsAndEnable(ok);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(log.Contains(Log::warning, "WLAN credentials invalid, clearing wpa_supplicant credentials"));
        ::testing::Mock::VerifyAndClearExpectations(supplicant.get());
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
    }
}

TEST_F(WlanHandlerTest, StaticPropertiesWithoutAddressChangeNothing)
{
    config->bools[TarvWlanDhcpEnable] = false;
    config->strings[TarvWlanIpv4Netmask] = "255.255.255.0";
    EXPECT_CALL(*runner, Run(_, _)).Times(0);
    EXPECT_CALL(*editor, SetInterfacesFile(_)).Times(0);
    bool ok = true;
    Handler().SetIfProperties(ok);
    EXPECT_FALSE(ok);
}

TEST_F(WlanHandlerTest, SetIfPropertiesRestartsAConnectedLinkUnderTheNewStanza)
{
    config->bools[TarvWlanDhcpEnable] = false;
    config->strings[TarvWlanIpv4Addr] = "10.0.0.7";
    config->strings[TarvWlanIpv4Netmask] = "255.0.0.0";
    {
        ::testing::InSequence order;
        EXPECT_CALL(*runner, Run("ip link set dev wlan0 down", _));
        EXPECT_CALL(*runner, Run("ifdown wlan0", _));
        EXPECT_CALL(*editor, SetAsStaticIpv4("wlan0", "charger-1", "10.0.0.7", "255.0.0.0", _, ""));
        EXPECT_CALL(*editor, SetInterfacesFile(_));
        EXPECT_CALL(*runner, Run("ifup wlan0", _));
    }
    bool ok = true;
    Handler().SetIfProperties(ok);
    EXPECT_TRUE(ok);
    Handler().Disconnect();
}

TEST_F(WlanHandlerTest, PassphraseNeverReachesALogLine)
{
    bool ok = true;
    Handler().SetCredentialsAndEnable(ok);
    scan->WaitForStationQueries(1);
    Handler().SendDiagSignals();
    Handler().Disable(ok);
    config->strings[WlanStaPassword] = std::string(kPassphrase) + "\n";
    Handler().SetCredentialsAndEnable(ok);
    ASSERT_FALSE(log.Lines().empty());
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(line.raw.find("sEcret"), std::string::npos) << line.raw;
    }
}

} // namespace
