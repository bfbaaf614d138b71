// The lifecycle actions against scripted handlers, a scripted command runner
// and a manual clock; posted events are recorded instead of dispatched.

#include "src/components/lifecycle/tarvhsmactionhandler.h"

#include "platform/config/qeconfig.h"
#include "platform/ipc/diagnosticscommclient.h"
#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/lifecycle/fakeconnectionhandler.h"
#include "tests/components/mocks/fakeprocessowner.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace std::chrono_literals;
using LifecycleFakes::CNoNtp;
using LifecycleFakes::SFakeStation;
using testing::_;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::Return;

namespace {

using A = CTarvHsmActionHandler;
using Strings = std::vector<std::string>;
// What an action did: the handler calls, then the events it posted.
using Outcome = std::pair<Strings, Strings>;

const Strings kDisablingAll{"uap0.Disable", "wlan0.Disable", "lte0.Disable", "plc0.Disable"};

// Each notified status as "EWlan0 -64" (interface, signal strength).
class CStatusSink : public ITarvClient, public CJournal {
public:
    void NotifyStatus(const ipc::MNetStatus& s) override
    {
        Add(ipc::EIfName_Name(s.interface()) + " " + std::to_string(s.signalstrength()));
    }
    void NotifyFloat(float) override {}
};

struct ActionHandler : testing::Test {
    std::shared_ptr<HandlerMocks::CFakeConfig> config = std::make_shared<HandlerMocks::CFakeConfig>();
    SFakeStation station{config};
    std::shared_ptr<CStatusSink> sink = std::make_shared<CStatusSink>();
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockRunCommand>> runner =
        std::make_shared<testing::NiceMock<HandlerMocks::MockRunCommand>>();
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockHostnameManager>> hostname =
        std::make_shared<testing::NiceMock<HandlerMocks::MockHostnameManager>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    CPostedEvents events;
    std::shared_ptr<A> handler;
    CJournal connectivity; // the connectivity events sent

    ActionHandler()
    {
        config->bools = {{HwHasWlan, true}, {HwHasEthernet, true}, {HwHasLte, true}, {HwHasPlc, true}};
        config->strings = {{Hostname, "station-1"}, {ProductSn, "00-00-000-000"},
                           {WlanApMacAddr, "02:00:00:00:00:01"}, {WlanStaMacAddr, "02:00:00:00:00:02"},
                           {EthMacAddr, "02:00:00:00:00:03"}, {PlcMacAddr, "02:00:00:00:00:04"}};
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        ON_CALL(*hostname, SetHostname(_)).WillByDefault(Return(true));
        handler = Make(config);
        CDiagnosticsCommClient::SetSink([this](const CDiagnosticsCommClient::SSample& sample) {
            if (sample.identifier == Signals::kConnectivityStatusChanged.GetIdentifier()) {
                connectivity.Add(std::get<std::string>(sample.value));
            }
            return true;
        });
    }
    ~ActionHandler() override
    {
        handler->Stop();
        CDiagnosticsCommClient::SetSink(nullptr);
    }

    // A handler of the station, posting to the recorded events; notifications go to the sink unless given.
    std::shared_ptr<A> Make(std::shared_ptr<ITarvConfig> withConfig, std::shared_ptr<INtpManager> ntp = {},
                            std::shared_ptr<ITarvClient> client = {})
    {
        auto made = std::make_shared<A>(std::move(withConfig), client ? client : sink, runner, hostname,
                                        ntp ? ntp : std::make_shared<CNoNtp>(), clock);
        made->SetHandlers(station.Set());
        made->SetHsmInterface(&events);
        return made;
    }
    // Runs an action of the handler to its end.
    Outcome Run(void (A::*action)())
    {
        ((*handler).*action)();
        handler->Sync();
        return {station.journal->Take(), events.Take()};
    }
    void Advance(IClock::duration d)
    {
        clock->Advance(d);
        handler->Sync();
    }
    // Enabled with the status poll running, everything recorded so far dropped.
    void Enable()
    {
        handler->IntSetTarvEnabled();
        Run(&A::IntEnableNetworks);
        sink->Take();
    }
};

TEST_F(ActionHandler, HostNameFromTheConfigurationOrGeneratedFromTheSerialNumber)
{
    const std::string generated = "EV-Charger-00-00-000-000";
    const std::vector<std::pair<std::string, std::string>> cases{
        {std::string(32, 'a'), std::string(32, 'a')},
        {std::string(33, 'a'), generated},
        {"", generated},
        // Not a host name at all: it would land in /etc/hosts and command lines.
        {"a;reboot", generated},
    };
    for (const auto& [configured, expected] : cases) {
        config->strings[Hostname] = configured;
        EXPECT_CALL(*hostname, SetHostname(expected)).WillOnce(Return(true));
        EXPECT_EQ(handler->PatchHostname(), expected) << configured;
    }
    config->strings[Hostname] = "";
    config->strings[ProductSn] = "00-00-000-00"; // one character short
    EXPECT_THROW(handler->PatchHostname(), CTarvException);
}

TEST_F(ActionHandler, MacAddressIsSetOnlyWhenItDiffersAndIsWellFormed)
{
    struct SCase {
        bool exists;
        std::string wanted;
        std::string shown; // empty: sysfs is not read
        int ifconfigExit;  // -1: ifconfig must not run
        bool throws;
    } cases[] = {
        {true, "02:00:00:00:00:01", "02:00:00:00:00:01", -1, false},
        {true, "02:AB:00:00:00:01", "02:ab:00:00:00:01", 0, false}, // case differs: set again
        {true, "02:00:00:00:00:01", "02:00:00:00:00:02", 1, true},
        {true, "02:00:00:00:00:01;reboot", "", -1, true},
        {false, "02:00:00:00:00:01", "", -1, true},
    };
    for (const auto& c : cases) {
        testing::Mock::VerifyAndClearExpectations(runner.get());
        EXPECT_CALL(*station.errorHandler, DoesIfExist("eth0")).WillOnce(Return(c.exists));
        if (c.shown.empty()) {
            EXPECT_CALL(*runner, Run(_, _)).Times(0);
        } else {
            EXPECT_CALL(*runner, Run("cat /sys/class/net/eth0/address", 0)).WillOnce(Return(SCommandResult{0, c.shown}));
        }
        if (c.ifconfigExit != -1) {
            EXPECT_CALL(*runner, Run("ifconfig eth0 hw ether " + c.wanted, 5))
                .WillOnce(Return(SCommandResult{c.ifconfigExit, ""}));
        }
        if (c.throws) {
            EXPECT_THROW(handler->SetMacAddrs("eth0", c.wanted), CTarvException) << c.wanted;
        } else {
            EXPECT_NO_THROW(handler->SetMacAddrs("eth0", c.wanted)) << c.wanted;
        }
    }
}

TEST_F(ActionHandler, InitialisationPreparesFilesHandlersAndMacAddresses)
{
    EXPECT_CALL(*runner, Run(_, _)).Times(testing::AnyNumber());
    EXPECT_CALL(*station.editor, InitializeFile("station-1")).Times(2);
    for (const char* name : {"uap0", "wlan0", "eth0", "plc0"}) {
        EXPECT_CALL(*runner, Run(testing::StartsWith("ifconfig " + std::string(name) + " hw ether 02:00"), 5));
    }
    auto processes = std::make_shared<HandlerMocks::CFakeProcessOwner>();
    STarvHandlerSet set = station.Set();
    set.processOwner = processes;
    handler->SetHandlers(set);
    EXPECT_EQ(Run(&A::IntInitializeNetwork),
              Outcome({"uap0.Initialize", "lte0.Initialize", "plc0.Initialize"}, {"IntInitializingDone"}));
    // The first initialisation ends what an earlier run left, the later ones do not.
    EXPECT_EQ(processes->calls.size(), 10U);
    EXPECT_THAT(processes->calls, testing::Contains("StopLeftovers ifup lte0"));

    // Under another root the machine's own interfaces keep their addresses.
    testing::Mock::VerifyAndClearExpectations(runner.get());
    EXPECT_CALL(*runner, Run(testing::StartsWith("ifconfig"), _)).Times(0);
    CRootDir::Set("/tmp/station-copy/");
    EXPECT_THAT(Run(&A::IntInitializeNetwork).second, ElementsAre("IntInitializingDone"));
    CRootDir::Set("/");
    EXPECT_EQ(processes->calls.size(), 10U);
}

// Each failure ends its action with an error of the lifecycle, not an abort.
TEST_F(ActionHandler, FailuresInActionsAreErrorsOfTheLifecycle)
{
    struct CMistypedNtp : CNoNtp {
        bool Init() override { throw QeConfig::CTypeError("Config key 'NtpServer1' holds a number"); }
    };
    handler = Make(config, std::make_shared<CMistypedNtp>());
    EXPECT_CALL(*station.errorHandler, DoesIfExist(_)).Times(testing::AnyNumber());
    EXPECT_CALL(*station.errorHandler, DoesIfExist("wlan0")).WillOnce(Return(false));
    station[ipc::EWlan0].Fail("?Disable");
    const std::pair<void (A::*)(), const char*> actions[] = {
        {&A::IntInitializeNetwork, "wlan0 missing"}, {&A::IntInitializeNtp, "server name of the wrong type"},
        {&A::IntDisableAll, "wlan0.Disable threw"}, {&A::IntEnableNetworks, "wlan0.Disable threw"}};
    for (const auto& [action, failure] : actions) {
        EXPECT_THAT(Run(action).second, ElementsAre("IntError")) << failure;
    }
}

// Each action turns a mistyped hardware flag into an error of the lifecycle,
// logged in its own words; the status tracking's start still reports the
// interfaces set up after the error.
TEST_F(ActionHandler, AMistypedHardwareFlagIsAnErrorOfEachAction)
{
    struct CMistyped : HandlerMocks::CFakeConfig {
        bool GetBool(EConfigKey) const override { throw QeConfig::CTypeError("Config key 'HwHasWlan' holds a text"); }
    };
    auto mistyped = std::make_shared<CMistyped>();
    mistyped->strings = config->strings;
    handler = Make(mistyped);
    const std::string hardware = "Wrong data type was used in the hardware configuration file";
    const std::tuple<void (A::*)(), std::vector<std::string>, std::string> cases[] = {
        {&A::IntInitializeNetwork, {"IntError"}, "Wrong data type was used in the configuration files"},
        {&A::IntSetTarvEnabled, {"IntError", "IntTarvIfInit"}, hardware},
        {&A::IntEnableNetworks, {"IntError"}, "Error while reading configuration files: Wrong data types present"},
        {&A::IntDisableAll, {"IntError"}, hardware}};
    for (const auto& [action, posted, line] : cases) {
        TestSupport::CLogCapture log;
        EXPECT_THAT(Run(action).second, ElementsAreArray(posted)) << line;
        EXPECT_TRUE(log.Contains(Log::error, line)) << line;
    }
    EXPECT_FALSE(handler->IsTarvEnabled());
}

TEST_F(ActionHandler, EnablingAppliesTheKeysOfThePresentHardwareInOrder)
{
    struct SCase {
        std::map<EConfigKey, bool> bools;
        std::map<EConfigKey, std::string> strings;
        std::pair<ipc::EIfName, std::string> failing; // {EEth0, "Enable"} clears the flag, "!Disable" throws
        Strings journal;
        Strings posted;
    } cases[] = {
        {{{TarvEthEnable, true}, {TarvWlanEnable, true}, {TarvLteEnable, false}, {TarvPlcEnable, true}},
         {{TarvSsid, "net"}, {WlanStaPassword, "secret12"}}, {},
         // The credentials enable WLAN: the supplicant starts once.
         {"uap0.Enable", "eth0.Enable", "eth0.SetDns", "wlan0.SetCredentialsAndEnable", "lte0.Disable", "plc0.Enable"},
         {"IntEnablingDone"}},
        // A non-critical failure still enables the daemon.
        {{{HwHasLte, false}, {HwHasPlc, false}}, {}, {ipc::EEth0, "Enable"},
         {"uap0.Enable", "eth0.Enable", "eth0.SetDns", "wlan0.SetCredentialsAndEnable"}, {"IntEnablingDone"}},
        // No SSID: the credentials are not applied, the WLAN switch still is.
        {{{HwHasEthernet, false}}, {{TarvSsid, ""}}, {}, {"uap0.Enable", "wlan0.Enable"}, {"IntEnablingDone"}},
        // A critical failure does not.
        {{{TarvWlanEnable, false}}, {}, {ipc::EWlan0, "!Disable"}, {"uap0.Enable", "wlan0.Disable"}, {"IntError"}},
        // WLAN is required: nothing is touched.
        {{{HwHasWlan, false}}, {}, {}, {}, {"IntError"}},
    };
    for (auto& c : cases) {
        for (const auto& [key, value] : c.bools) {
            config->bools[key] = value;
        }
        for (const auto& [key, value] : c.strings) {
            config->strings[key] = value;
        }
        if (!c.failing.second.empty()) {
            station[c.failing.first].Fail(c.failing.second);
        }
        EXPECT_EQ(Run(&A::IntEnableNetworks), Outcome(c.journal, c.posted));
    }
}

TEST_F(ActionHandler, EachHandlerRunsAndReportsOnItsOwn)
{
    config->bools.insert({{TarvEthEnable, true}, {TarvWlanEnable, true}, {TarvLteEnable, true}, {TarvPlcEnable, true}});
    config->strings.insert({{TarvSsid, "net"}, {WlanStaPassword, "secret12"}});
    const Strings enabling{"uap0.Enable", "eth0.Enable", "eth0.SetDns", "wlan0.SetCredentialsAndEnable",
                           "lte0.Enable", "plc0.Enable"};
    // eth0's failure (a cable out) is its own: the others run with a clean flag, the daemon is enabled.
    station[ipc::EEth0].Fail("Enable");
    EXPECT_EQ(Run(&A::IntEnableNetworks), Outcome(enabling, {"IntEnablingDone"}));
    // A critical failure is reported once the others have run too.
    station[ipc::EUap0].Fail("!Enable");
    station[ipc::EUap0].Fail("!Disable");
    EXPECT_EQ(Run(&A::IntEnableNetworks), Outcome(enabling, {"IntError"}));
    EXPECT_EQ(Run(&A::IntDisableAll), Outcome(kDisablingAll, {"IntError"}));
}

TEST_F(ActionHandler, ADisableOrStopCancelsHandlerWorkWithoutWaitingForIt)
{
    // Accepted as soon as Enabled is entered, before the interfaces are.
    handler->IntSetTarvEnabled();
    EXPECT_TRUE(handler->IsTarvEnabled());
    config->bools.insert({{TarvLteEnable, true}, {TarvPlcEnable, true}});
    station[ipc::ELte0].Fail("~Enable"); // like an ifup waiting for a lease
    for (const bool stop : {false, true}) {
        events.Take();
        handler->IntEnableNetworks(); // returns at once
        ASSERT_TRUE(station.journal->WaitFor("lte0.Enable"));
        station.journal->Take();
        // Leaving Enabled (the machine's own thread) must not wait for the job.
        auto left = std::async(std::launch::async, [&] {
            handler->IntSetTarvNotEnabled();
            handler->IntStopAliveTimer();
        });
        const bool leftAtOnce = left.wait_for(5s) == std::future_status::ready;
        stop ? handler->IntStopWorkerThread() : handler->IntDisableAll();
        left.wait();
        EXPECT_TRUE(leftAtOnce) << "leaving Enabled waited for a handler's command";
        handler->Sync();
        // plc0 is not enabled after the cancel, and the cancelled enabling reports nothing.
        Strings expected{"lte0.Enable cancelled"};
        if (!stop) {
            expected.insert(expected.end(), kDisablingAll.begin(), kDisablingAll.end());
        }
        EXPECT_EQ(Outcome(station.journal->Take(), events.Take()),
                  Outcome(expected, {stop ? "IntStopWorkerThreadDone" : "IntDisablingDone"}));
    }
}

TEST_F(ActionHandler, DestroyedDuringAnAccessPointEnableWithoutACrash)
{
    // The cancelled enabling goes on to arm the access point's timer while
    // the handler is being destroyed (SIGINT during start-up).
    config->bools[InstallationComplete] = true;
    auto doomed = Make(config);
    station[ipc::EUap0].Fail("~Enable");
    doomed->IntEnableNetworks();
    ASSERT_TRUE(station.journal->WaitFor("uap0.Enable"));
    doomed.reset();
    EXPECT_THAT(station.journal->Take(), ElementsAre("uap0.Enable", "uap0.Enable cancelled"));
}

TEST_F(ActionHandler, ChangedKeysCallEachHandlerOperationOnce)
{
    config->bools[TarvEthEnable] = true;
    config->bools[TarvApEnable] = false;
    // The modem's settings are checked once per validation; a refusal reaches the client.
    station[ipc::ELte0].Fail("UpdateModemSettings");
    struct SCase {
        std::vector<EConfigKey> keys;
        Strings journal;
        bool ok;
        bool lte = false; // the LTE hardware is present
    } cases[] = {
        {{TarvEthIpv4Addr, TarvEthIpv4Netmask}, {"eth0.SetIfProperties"}, true},
        {{TarvDnsAuto, TarvPreferredDnsServerAddr, TarvAlternativeDnsServerAddr}, {"eth0.SetDns"}, true},
        // Enabling the WLAN connects with the new credentials itself.
        {{TarvWlanEnable, TarvSsid, WlanStaPassword}, {"wlan0.Disable"}, true},
        {{TarvSsid, WlanStaPassword, TarvWlanIpv4Addr, TarvWlanDhcpEnable},
         {"wlan0.SetCredentialsAndEnable", "wlan0.SetIfProperties"}, true},
        {{TarvEthEnable, TarvApEnable, TarvPlcEnable}, {"eth0.Enable", "uap0.Disable", "plc0.Disable"}, true},
        {{HwHasWlan, WlanApPassword, TarvLteSimPin, NtpServer1}, {}, true},
        {{TarvLteEnable}, {}, true}, // the LTE switch needs the LTE hardware
        {{}, {}, false},
        {{TarvLteApn, TarvLteApnAuth, TarvLteSimPin}, {"lte0.UpdateModemSettings"}, false, true},
    };
    for (const auto& c : cases) {
        config->bools[HwHasLte] = c.lte;
        bool ok = true;
        handler->UpdateInterfaces(c.keys, ok);
        EXPECT_EQ(std::pair(station.journal->Take(), ok), std::pair(c.journal, c.ok));
    }
}

TEST_F(ActionHandler, AccessPointGoesOffAfterFifteenMinutesUnlessConfiguredOn)
{
    config->bools[InstallationComplete] = true;
    config->bools[TarvApEnable] = true;
    Run(&A::IntEnableNetworks);
    Advance(15min);
    EXPECT_THAT(station.journal->Take(), ElementsAre()); // configured on: stays on

    config->bools[TarvApEnable] = false;
    handler->ScheduleApDisable();
    Advance(10min);
    handler->ScheduleApDisable(); // scheduled again: fifteen minutes from now
    Advance(14min);
    EXPECT_THAT(station.journal->Take(), ElementsAre());
    Advance(1min);
    EXPECT_THAT(station.journal->Take(), ElementsAre("uap0.Disable"));

    // A failed disable is reported to the lifecycle instead of ending the daemon.
    for (const char* failure : {"Disable", "!Disable"}) {
        station[ipc::EUap0].Fail(failure);
        handler->ScheduleApDisable();
        Advance(15min);
        EXPECT_THAT(events.Take(), ElementsAre("IntError")) << failure;
    }
}

TEST_F(ActionHandler, PollNotifiesRealChangesOnly)
{
    station[ipc::EWlan0].SetConnected(true, -70);
    Enable();
    // 5 below the notified -70 is no change; 6 is, and -64 is stored.
    for (const auto& [connected, strength] : std::vector<std::pair<bool, int>>{
             {true, -65}, {true, -64}, {true, -60}, {false, -60}, {false, -60}}) {
        station[ipc::EWlan0].SetConnected(connected, strength);
        Advance(1s);
    }
    EXPECT_THAT(sink->Take(), ElementsAre("EWlan0 -64", "EWlan0 -60"));
}

TEST_F(ActionHandler, ANotificationRequestAnswersEachKnownInterfaceOnce)
{
    ipc::MNetInterfaces request;
    for (int i = 0; i < 10000; ++i) {
        request.mutable_interfaces()->Add(i % 2 == 0 ? ipc::EWlan0 : 9 + i);
    }
    TestSupport::CLogCapture log(Log::warning);
    EXPECT_TRUE(handler->TriggerStatusNotification(request));
    EXPECT_THAT(sink->Take(), ElementsAre("EWlan0 0"));
    EXPECT_THAT(log.Texts(), ElementsAre("Unknown interface: 5000 of the 10000 values requested ignored"));
}

TEST_F(ActionHandler, AFlappingLinkIsMutedForAnHourAfterSixEvents)
{
    Enable();
    for (int change = 1; change <= 9; ++change) {
        station[ipc::EWlan0].SetConnected(change % 2 == 1);
        Advance(1s);
    }
    const std::string up = "Connected net interfaces EWlan0 Disconnected net interfaces EUap0,EEth0,ELte0,EPlc0";
    const std::string down = "Connected net interfaces None Disconnected net interfaces EUap0,EEth0,EWlan0,ELte0,EPlc0";
    EXPECT_THAT(connectivity.Take(), ElementsAre(up, down, up, down, up, down,
                                                 "Unstable connection detected on EWlan0, stopped logging EWlan0 "
                                                 "network changes for at least the following 1 hour."));

    // Each change restarts the hour; only an hour without changes resets.
    Advance(59min);
    station[ipc::EWlan0].SetConnected(false);
    Advance(1s);
    Advance(59min);
    EXPECT_THAT(connectivity.Take(), ElementsAre());
    Advance(1min);
    station[ipc::EWlan0].SetConnected(true);
    Advance(1s);
    EXPECT_EQ(connectivity.Take().size(), 1u);
}

TEST_F(ActionHandler, TechnologyChangeIsReportedAndCriticalPollFailureIsAnError)
{
    ipc::MNetStatus lte;
    lte.set_interface(ipc::ELte0);
    lte.mutable_lteinfo()->set_technology("LTE");
    station[ipc::ELte0].SetStatus(lte);
    Enable();
    lte.mutable_lteinfo()->set_technology("NB-IoT");
    station[ipc::ELte0].SetStatus(lte);
    Advance(1s);
    EXPECT_THAT(connectivity.Take(), ElementsAre("Mobile technology type changed from LTE to NB-IoT"));

    station[ipc::ELte0].Fail("GetStatus");
    Advance(1s);
    EXPECT_THAT(events.Take(), ElementsAre("IntError"));
}

TEST_F(ActionHandler, DisableThenEnableWithinTwoSecondsKeepsThePollRunning)
{
    Enable();
    EXPECT_EQ(Run(&A::IntDisableAll), Outcome(kDisablingAll, {"IntDisablingDone"}));
    // The poll runs while a handler's status is read once a second.
    const auto polled = [&] {
        station[ipc::EWlan0].TakeStatusReads();
        Advance(1s);
        return station[ipc::EWlan0].TakeStatusReads() > 0;
    };
    Advance(1s);
    handler->IntSetTarvEnabled();
    Advance(5s);
    EXPECT_TRUE(polled());

    // Without a new enable the poll ends 2 s after the disable.
    Run(&A::IntDisableAll);
    EXPECT_TRUE(polled());
    Advance(1s);
    EXPECT_FALSE(polled());
    handler->IntSetTarvEnabled();
    EXPECT_TRUE(polled());
}

TEST_F(ActionHandler, StoppingTheWorkerThreadEndsEveryTimedCall)
{
    std::atomic<int> alive{0};
    handler->mAliveCallback = [&] { ++alive; };
    config->bools[InstallationComplete] = true;
    Enable();
    handler->IntStartAliveTimer();
    handler->IntStopWorkerThread();
    const int ticks = alive;
    station[ipc::EWlan0].SetConnected(true);
    Advance(1h);
    EXPECT_EQ(alive, ticks);
    EXPECT_THAT(sink->Take(), ElementsAre());
    EXPECT_THAT(station.journal->Take(), ElementsAre()); // the access point stays on
}

// A handler that takes no lock: a lock shared by the machine's thread and
// the worker would order their accesses to the tracked statuses and hide a
// race from ThreadSanitizer. Its status changes at each query.
class CLockFreeHandler : public CTarvConnectionHandlerBase {
public:
    CLockFreeHandler(ipc::EIfName id, std::shared_ptr<ITarvConfig> config)
        : CTarvConnectionHandlerBase({.config = std::move(config)}, {id, HwHasWlan, 1s, &Signals::kWlanLinkState})
    {
    }
    void Enable(bool&) override {}
    void Disable(bool&) override {}
    void SendDiagSignals() override {}
    void SendExtendedDiagSignals() override {}
    ipc::MNetStatus GetStatus() override
    {
        ipc::MNetStatus status;
        status.set_interface(GetInterfaceId());
        status.set_signalstrength(mQueries.fetch_add(1, std::memory_order_relaxed) % 2 * 10);
        return status;
    }
    int Queries() const { return mQueries.load(); }

private:
    std::atomic<int> mQueries{0};
};

// The machine's thread enabling and disabling while the worker polls: the
// tracked statuses must never be touched by both (checked under ThreadSanitizer).
TEST_F(ActionHandler, DisableEnableCyclesRaceNothingWithThePoll)
{
    auto racing = Make(config, {}, std::make_shared<LifecycleFakes::CNullClient>());
    STarvHandlerSet set = station.Set();
    for (auto [slot, id] : {std::pair{&set.ap, ipc::EUap0}, {&set.wlan, ipc::EWlan0}, {&set.eth, ipc::EEth0},
                            {&set.lte, ipc::ELte0}, {&set.plc, ipc::EPlc0}}) {
        *slot = std::make_shared<CLockFreeHandler>(id, config);
    }
    racing->SetHandlers(set);
    racing->IntSetTarvEnabled();
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            clock->Advance(500ms);
            std::this_thread::yield();
        }
    });
    // Mostly enabling again within the 2 s after a disable, when the poll goes on.
    for (int cycle = 0; cycle < 1000; ++cycle) {
        if (cycle % 100 == 0) {
            racing->IntDisableAll();
        }
        racing->IntSetTarvEnabled();
    }
    stop = true;
    ticker.join();
    // The last disable's job may have planted its delayed cancel after the last enable.
    racing->Sync();
    racing->IntSetTarvEnabled();
    // The poll still runs: the statuses are read again.
    const auto* polled = static_cast<const CLockFreeHandler*>(set.plc.get());
    const int queries = polled->Queries();
    clock->Advance(1s);
    racing->Sync();
    EXPECT_GT(polled->Queries(), queries);
    racing->Stop();
}

} // namespace
