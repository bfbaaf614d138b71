// The WLAN station handler on scripted collaborators and a driven clock, with
// a radio as a script: one station answer for every poll and the scan
// answers in order (the last one repeats). Its status poll runs on a worker
// thread of its own.
#include "src/components/handlers/tarvwlanhandler.h"

#include "tests/components/mocks/handlerfixture.h"

#include <condition_variable>
#include <csignal>
#include <deque>
#include <thread>

using namespace HandlerMocks;
using namespace ::testing;

namespace {

struct CFakeWifiScan : ITarvWifiScan {
    std::unique_ptr<CHandle> WifiScanInit(const std::string&) override { return ++openHandles, std::make_unique<CHandle>(); }
    void FreeWifi(std::unique_ptr<CHandle>) override { --openHandles; }
    SStationResult GetWifiStatus(CHandle&) override
    {
        std::lock_guard lock(mutex);
        ++stationQueries;
        changed.notify_all();
        return station;
    }
    // Scans run on the caller's thread.
    SScanResult ScanAll(CHandle&) override
    {
        SScanResult result = scans.empty() ? SScanResult{} : scans.front();
        if (scans.size() > 1) {
            scans.pop_front();
        }
        return result;
    }
    void WaitForStationQueries(int n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stationQueries >= n; });
    }

    std::mutex mutex; // guards stationQueries and station once the handler runs
    std::condition_variable changed;
    int stationQueries = 0;
    SStationResult station{1, {{}, "Home", 0, -55}};
    std::atomic<int> openHandles = 0;
    std::deque<SScanResult> scans;
};

class WlanHandlerTest : public CHandlerFixture<NiceMock> {
protected:
    WlanHandlerTest()
    {
        config->bools = {{HwHasWlan, true}, {TarvWlanEnable, true}};
        config->strings = {{TarvSsid, "Home"}, {WlanStaPassword, kPassphrase}};
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        ON_CALL(*errorHandler, IsIfInDesiredState(_, _)).WillByDefault(Return(true));
        ON_CALL(*supplicant, StartWpaSupplicant(_, _, _)).WillByDefault(Return(true));
        host->AddAddress("wlan0", "192.168.8.20", "255.255.255.0");
        wlan = std::make_unique<CTarvWlanHandler>(Parts(), scan, supplicant);
    }

    static constexpr const char* kPassphrase = "sEcret-Pass-42";
    std::shared_ptr<Nice<MockWpaSupplicantHandler>> supplicant = std::make_shared<Nice<MockWpaSupplicantHandler>>();
    std::shared_ptr<CFakeWifiScan> scan = std::make_shared<CFakeWifiScan>();
    std::unique_ptr<CTarvWlanHandler> wlan;
};

using Record = ITarvWifiScan::SScanRecord;

Record Rec(std::string ssid, std::uint32_t mhz, std::int32_t mbm, std::uint32_t complete = 1)
{
    return Record{{}, mhz, std::move(ssid), 0, mbm, 0, complete};
}

TEST_F(WlanHandlerTest, ScanListsStrongestUsable24GhzNetworksOnce)
{
    const std::pair<std::vector<Record>, std::string> cases[] = {
        {{Rec("Home", 2412, -7000), Rec("Cafe", 2462, -4000), Rec("Home", 2412, -5000)}, "Cafe -40 11|Home -50 1|"},
        {{Rec("Weak", 2412, -8500), Rec("Edge", 2472, -8499), Rec("Six", 2437, -6312)}, "Six -63 6|Edge -84 13|"},
        {{Rec("5GHz", 5180, -3000), Rec("Ch14", 2484, -3000), Rec("Zero", 0, -3000), Rec("Low", 2400, -3000)}, ""},
        // Empty, incomplete, not UTF-8 (a peer could not read the reply).
        {{Rec("", 2412, -30), Rec("Half", 2412, -30, 0), Rec("\xff\xfe", 2412, -30), Rec("Caf\xc3\xa9", 2412, -3100)},
         "Caf\xc3\xa9 -31 1|"},
    };
    for (const auto& [records, expected] : cases) {
        scan->scans = {{static_cast<int>(records.size()), records}};
        const ipc::MScanWlan reply = wlan->ScanWlan();
        std::string listed;
        for (const auto& n : reply.networks()) {
            listed += n.ssid() + " " + std::to_string(n.signallevel()) + " " + std::to_string(n.channel()) + "|";
        }
        EXPECT_TRUE(reply.success());
        EXPECT_EQ(listed, expected);
    }
    // A radio reporting more than the buffer holds, or fewer than its records.
    std::vector<Record> many;
    for (int i = 0; i < 150; ++i) {
        many.push_back(Rec("net" + std::to_string(i), 2412, -3000));
    }
    for (const auto& [count, listed] : {std::pair{150, 100}, {20, 20}}) {
        scan->scans = {{count, many}};
        EXPECT_EQ(wlan->ScanWlan().networks_size(), listed) << count;
    }
    EXPECT_EQ(scan->openHandles, 0);
}

TEST_F(WlanHandlerTest, FailingScanRetriesWithTheInterfaceUpThenGivesUp)
{
    for (const int failures : {3, 10}) {
        log.Clear();
        scan->scans.assign(static_cast<std::size_t>(failures), {-1, {}});
        scan->scans.push_back({1, {Rec("Home", 2412, -5000)}});
        EXPECT_CALL(*runner, Run("ip link set wlan0 up", 0u)).Times(failures);
        const ipc::MScanWlan reply = wlan->ScanWlan();
        EXPECT_EQ(reply.success(), failures < 10);
        EXPECT_EQ(log.Contains(Log::error, "Unable to scan for wlan"), failures == 10);
        Mock::VerifyAndClearExpectations(runner.get());
    }
    // With WLAN disabled the interface goes down again; if it cannot, that is fatal.
    config->bools[TarvWlanEnable] = false;
    EXPECT_CALL(*runner, Run("ip link set wlan0 down", 0u)).WillOnce(Return(SCommandResult{1, ""}));
    EXPECT_THROW(wlan->ScanWlan(), CTarvException);
    EXPECT_EQ(scan->openHandles, 0);
}

TEST_F(WlanHandlerTest, PollMapsLinkAndAssociationIntoTheCachedStatus)
{
    using S = ipc::MNetStatus;
    const ITarvWifiScan::SStationResult associated{1, {{}, "Home", 0, -61}};
    const struct { std::uint8_t link; ITarvWifiScan::SStationResult station; S::EConnectionState state; } cases[] = {
        {Tarv::kOperStateUp, {-1, {}}, S::ENotSet}, // station query error, lasting
        {Tarv::kOperStateUp, {-7, {}}, S::ENotSet},
        {Tarv::kOperStateUp, associated, S::EConnected},
        {Tarv::kOperStateUp, {0, {}}, S::EDisconnected},
        {Tarv::kOperStateUp, {1, {{}, "Home", -1, -61}}, S::EDisconnected}, // no BSS status
        {Tarv::kOperStateDormant, associated, S::EDisconnected},
        {Tarv::kOperStateUnknown, associated, S::ENotSet},
    };
    for (const auto& c : cases) {
        linkState = c.link;
        scan->station = c.station;
        wlan->UpdateNetworkStatus();
        const S s = wlan->GetStatus();
        EXPECT_EQ(s.interface(), ipc::EWlan0);
        EXPECT_EQ(s.connectionstate(), c.state);
        EXPECT_EQ(std::to_string(s.signalstrength()) + " " + s.properties().ipaddress() + "/" + s.properties().subnetmask(),
                  c.state == S::EConnected ? "-61 192.168.8.20/255.255.255.0" : "-1000 /");
    }
    // A lasting station query error is logged once, and so is a missing wlan0, which never ends the poll.
    EXPECT_EQ(log.Count("Unable to get station information"), 1u);
    log.Clear();
    EXPECT_CALL(*netlink, GetLink(_, "wlan0")).WillRepeatedly(Throw(CTarvException()));
    for (int poll = 0; poll < 3; ++poll) {
        ASSERT_NO_THROW(wlan->UpdateNetworkStatus());
    }
    EXPECT_EQ(wlan->GetStatus().connectionstate(), ipc::MNetStatus::ENotSet);
    EXPECT_EQ(log.Texts(Log::error).size(), 1u);
}

TEST_F(WlanHandlerTest, EnablePollsUntilDisableLeavesTheStatusDisconnected)
{
    EXPECT_CALL(*supplicant, StartWpaSupplicant(StrEq("wlan0"), StrEq("Home"), StrEq(kPassphrase)));
    EXPECT_CALL(*supplicant, StopWpaSupplicant()).Times(0);
    EXPECT_TRUE(OkAfter(*wlan, &CTarvWlanHandler::Enable));
    scan->WaitForStationQueries(1); // at once
    clock->Advance(CTarvWlanHandler::kStatusPollPeriod);
    scan->WaitForStationQueries(2); // and every period
    EXPECT_TRUE(OkAfter(*wlan, &CTarvWlanHandler::Disable));
    const ipc::MNetStatus status = wlan->GetStatus();
    EXPECT_EQ(status.connectionstate(), ipc::MNetStatus::EDisconnected);
    EXPECT_EQ(status.signalstrength(), -1000);
    EXPECT_EQ(status.properties().ipaddress() + status.properties().subnetmask(), "");
}

TEST_F(WlanHandlerTest, EnableThatCannotConnectStopsTheSupplicant)
{
    const struct { std::string passphrase; bool starts, dhcp; } cases[] = {
        {kPassphrase, false, false}, {kPassphrase, true, true} /* no udhcpc to renew */, {"short", true, false}};
    for (const auto& c : cases) {
        config->strings[WlanStaPassword] = c.passphrase;
        config->bools[TarvWlanDhcpEnable] = c.dhcp;
        ON_CALL(*supplicant, StartWpaSupplicant(_, _, _)).WillByDefault(Return(c.starts));
        EXPECT_CALL(*supplicant, StopWpaSupplicant());
        EXPECT_FALSE(OkAfter(*wlan, &CTarvWlanHandler::Enable)) << c.passphrase;
        Mock::VerifyAndClearExpectations(supplicant.get());
    }
    // Without any credentials only ifup runs.
    config->strings = {};
    EXPECT_CALL(*supplicant, StopWpaSupplicant()).Times(0);
    EXPECT_TRUE(OkAfter(*wlan, &CTarvWlanHandler::Enable));
    Mock::VerifyAndClearExpectations(supplicant.get());

    // Invalid ones set anew are cleared from the supplicant and the link stays down.
    config->strings = {{TarvSsid, "Home"}, {WlanStaPassword, "line\nbreak!"}};
    InSequence order;
    EXPECT_CALL(*supplicant, StartWpaSupplicant(StrEq("wlan0"), StrEq(""), StrEq("")));
    EXPECT_CALL(*supplicant, StopWpaSupplicant());
    EXPECT_CALL(*runner, Run("ifup wlan0", _)).Times(0);
    EXPECT_FALSE(OkAfter(*wlan, &CTarvWlanHandler::SetCredentialsAndEnable));
}

TEST_F(WlanHandlerTest, AnUnjoinedNetworkKeepsTheSupplicantAndDhcpClient)
{
    config->bools[TarvWlanDhcpEnable] = true;
    ON_CALL(*errorHandler, RecoverFromIfUpDown(_, _)).WillByDefault(Return(false));
    const std::string client =
        "udhcpc -b -R -p " + root.Root() + "var/run/udhcpc.wlan0.pid -i wlan0 -x hostname:charger-1";
    EXPECT_CALL(*runner, Run(_, _)).Times(AnyNumber());
    {
        InSequence order; // associating needs the supplicant before ifup's DHCP client
        EXPECT_CALL(*supplicant, StartWpaSupplicant(StrEq("wlan0"), StrEq("Home"), StrEq(kPassphrase)));
        EXPECT_CALL(*runner, Run("ifup wlan0", _)).WillOnce(Return(SCommandResult{1, ""}));
        EXPECT_CALL(*runner, Run(client, _));
    }
    EXPECT_CALL(*supplicant, StopWpaSupplicant()).Times(0);
    EXPECT_TRUE(OkAfter(*wlan, &CTarvWlanHandler::Enable));
    scan->WaitForStationQueries(1); // and the poll watches for the association
    // That client is the handler's to end: ifdown does not know it.
    host->AddProcess(60, "udhcpc", {"udhcpc", "-b", "-i", "wlan0"});
    root.WriteFile("var/run/udhcpc.wlan0.pid", "60");
    bool ok = true;
    wlan->Disable(ok);
    // The poll still running may have asked that client to renew first.
    EXPECT_THAT(host->signals, Contains(std::make_pair(60, SIGTERM)));
}

TEST_F(WlanHandlerTest, SetIfPropertiesRestartsAConnectedLinkUnderTheNewStanza)
{
    config->strings[TarvWlanIpv4Netmask] = "255.0.0.0";
    EXPECT_CALL(*runner, Run(_, _)).Times(0); // no address: nothing changes
    EXPECT_FALSE(OkAfter(*wlan, &CTarvWlanHandler::SetIfProperties));
    Mock::VerifyAndClearExpectations(runner.get());

    config->strings[TarvWlanIpv4Addr] = "10.0.0.7";
    InSequence order;
    EXPECT_CALL(*runner, Run("ip link set dev wlan0 down", _));
    EXPECT_CALL(*runner, Run("ifdown wlan0", _));
    EXPECT_CALL(*editor, SetAsStaticIpv4("wlan0", "charger-1", "10.0.0.7", "255.0.0.0", _, ""));
    EXPECT_CALL(*editor, SetInterfacesFile(_));
    EXPECT_CALL(*runner, Run("ifup wlan0", _));
    EXPECT_TRUE(OkAfter(*wlan, &CTarvWlanHandler::SetIfProperties));
    wlan->Disconnect();
}


// Status readers and a disconnecting lifecycle thread against the running
// poll: the cached status is never seen half-written, and once Disconnect
// returns no poll marks the link connected again.
TEST_F(WlanHandlerTest, PollAgainstStatusReadersAndDisconnect)
{
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const ipc::MNetStatus status = wlan->GetStatus();
            EXPECT_EQ(status.signalstrength() == -55 && status.properties().ipaddress() == "192.168.8.20",
                      status.connectionstate() == ipc::MNetStatus::EConnected);
        }
    });
    std::thread ticker([&] {
        while (!stop) {
            clock->Advance(CTarvWlanHandler::kStatusPollPeriod), std::this_thread::yield();
        }
    });
    for (int round = 1; round <= 30; ++round) {
        bool ok = true;
        wlan->Enable(ok);
        scan->WaitForStationQueries(round);
        wlan->Disconnect();
        EXPECT_EQ(wlan->GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
    }
    stop = true;
    reader.join();
    ticker.join();
}

} // namespace
