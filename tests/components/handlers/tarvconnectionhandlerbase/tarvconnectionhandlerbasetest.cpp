#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include "platform/ipc/diagnosticscommclient.h"
#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

using namespace HandlerMocks;
using namespace std::chrono_literals;
using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

namespace {

const CSignalDefinition<bool> kTestSignal(123, "Eth state", false);

// Exposes the helpers the derived handlers use.
class CTestHandler : public CTarvConnectionHandlerBase {
public:
    using CTarvConnectionHandlerBase::CTarvConnectionHandlerBase;
    using CTarvConnectionHandlerBase::GetIpProperties;
    using CTarvConnectionHandlerBase::GetUdhcpcPid;
    using CTarvConnectionHandlerBase::UpdateUdhcpc;
    using CTarvConnectionHandlerBase::WaitForState;
};

class ConnectionHandlerBaseTest : public ::testing::Test {
protected:
    ConnectionHandlerBaseTest()
    {
        config->bools[HwHasEthernet] = true;
        CRootDir::Set(root.Root());
    }
    ~ConnectionHandlerBaseTest() override { CRootDir::Set("/"); }

    std::unique_ptr<CTestHandler> MakeHandler(ipc::EIfName id = ipc::EEth0,
                                              const CSignalDefinition<bool>* signal = &kTestSignal)
    {
        return std::make_unique<CTestHandler>(id, config, runner, errorHandler, HwHasEthernet, 3s, netlink, signal,
                                              clock, host);
    }

    void ExpectLink(const std::string& name, std::uint8_t state)
    {
        EXPECT_CALL(*netlink, ConnectSocket()).WillOnce(Return(FakeSocket()));
        EXPECT_CALL(*netlink, GetLink(FakeSocket(), name)).WillOnce(Return(FakeLink()));
        EXPECT_CALL(*netlink, GetLinkState(FakeLink())).WillOnce(Return(state));
        EXPECT_CALL(*netlink, DeleteExternalNetlinkPointers(FakeSocket(), FakeLink()));
    }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<StrictMock<MockRunCommand>> runner = std::make_shared<StrictMock<MockRunCommand>>();
    std::shared_ptr<StrictMock<MockTarvErrorHandler>> errorHandler =
        std::make_shared<StrictMock<MockTarvErrorHandler>>();
    std::shared_ptr<StrictMock<MockTarvNetlink>> netlink = std::make_shared<StrictMock<MockTarvNetlink>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    std::shared_ptr<CFakeHostSystem> host = std::make_shared<CFakeHostSystem>();
    TestSupport::CLogCapture log;
};

TEST_F(ConnectionHandlerBaseTest, MissingPartsAreRefusedAndUnsupportedHardwareRunsNothing)
{
    EXPECT_THROW(CTestHandler(ipc::EEth0, nullptr, runner, errorHandler, HwHasEthernet, 3s, netlink, &kTestSignal),
                 std::invalid_argument);
    EXPECT_THROW(MakeHandler(ipc::EEth0, nullptr), std::invalid_argument);

    config->bools[HwHasEthernet] = false;
    auto handler = MakeHandler();
    bool ok = true;
    handler->Enable(ok);
    EXPECT_FALSE(ok);
    ok = true;
    handler->Disable(ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(log.Count("eth0 not supported"), 2u);
}

TEST_F(ConnectionHandlerBaseTest, CommandsThenRecoveryWhenOneFails)
{
    struct SCase {
        const char* name;
        bool enable;
        std::vector<std::pair<std::string, int>> commands; // command line and exit code, in order
        std::optional<bool> recovery;                       // asked, and its answer
        bool ok;
        bool throws;
    };
    const SCase cases[] = {
        {"ifup succeeds", true, {{"ifup eth0", 0}}, std::nullopt, true, false},
        {"ifup fails, recovered", true, {{"ifup eth0", 1}}, true, true, false},
        {"ifup fails, not recovered", true, {{"ifup eth0", 1}}, false, false, false},
        {"down commands succeed", false, {{"ip link set dev eth0 down", 0}, {"ifdown eth0", 0}}, std::nullopt, true,
         false},
        {"ifdown fails, recovered", false, {{"ip link set dev eth0 down", 0}, {"ifdown eth0", 127}}, true, true, false},
        {"link command fails, not recovered", false, {{"ip link set dev eth0 down", 1}}, false, true, true},
    };
    auto handler = MakeHandler();
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        {
            InSequence order;
            for (const auto& [command, exitCode] : c.commands) {
                EXPECT_CALL(*runner, Run(command, command.rfind("ip link", 0) == 0 ? 5u : 0u))
                    .WillOnce(Return(SCommandResult{exitCode, ""}));
            }
            const std::uint8_t desired = c.enable ? Tarv::kOperStateUp : Tarv::kOperStateDown;
            if (c.recovery) {
                EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", desired)).WillOnce(Return(*c.recovery));
            }
            if (!c.enable && !c.throws) {
                EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
            }
        }
        bool ok = true;
        if (c.throws) {
            EXPECT_THROW(handler->Disable(ok), CTarvException);
        } else if (c.enable) {
            handler->Enable(ok);
        } else {
            handler->Disable(ok);
        }
        EXPECT_EQ(ok, c.ok);
        const std::string failure = c.enable ? "Could not bring eth0 up" : "Could not bring eth0 down";
        EXPECT_EQ(log.Contains(Log::error, failure), !c.ok || c.throws);
        testing::Mock::VerifyAndClearExpectations(runner.get());
        testing::Mock::VerifyAndClearExpectations(errorHandler.get());
    }
}

TEST_F(ConnectionHandlerBaseTest, WaitingForAStatePollsUntilItsTimeout)
{
    struct SCase {
        const char* name;
        ipc::EIfName id;
        std::uint8_t state;
        std::chrono::milliseconds timeout;
        int falseAnswers; // before the state shows; -1: never
        bool ok;
        bool throws;
        const char* line;
        std::chrono::milliseconds elapsed;
    };
    const SCase cases[] = {
        {"down after two polls", ipc::EEth0, Tarv::kOperStateDown, 2s, 2, true, false, "eth0 interface disabled", 300ms},
        {"never down", ipc::EEth0, Tarv::kOperStateDown, 2s, -1, true, true, "Could not bring eth0 down", 2100ms},
        // Seen only when the time is already up: a failure.
        {"up exactly at the timeout", ipc::EUap0, Tarv::kOperStateUp, 200ms, 2, false, false,
         "Could not enable uap0 interface", 300ms},
        {"up", ipc::EUap0, Tarv::kOperStateUp, 3s, 1, true, false, "uap0 interface enabled", 200ms},
        // The WLAN station watches its association itself.
        {"wlan never up", ipc::EWlan0, Tarv::kOperStateUp, 8s, -1, true, false, "", 8100ms},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        auto handler = MakeHandler(c.id);
        int answers = 0;
        EXPECT_CALL(*errorHandler, IsIfInDesiredState(handler->GetInterfaceName(), c.state))
            .WillRepeatedly([&](const std::string&, std::uint8_t) {
                return c.falseAnswers >= 0 && answers++ >= c.falseAnswers;
            });
        const auto start = clock->Now();
        bool ok = true;
        if (c.throws) {
            EXPECT_THROW(handler->WaitForState(start, c.state, c.timeout, ok), CTarvException);
        } else {
            handler->WaitForState(start, c.state, c.timeout, ok);
        }
        EXPECT_EQ(ok, c.ok);
        if (*c.line != '\0') {
            EXPECT_TRUE(log.ContainsSubstring(c.line));
        } else {
            EXPECT_TRUE(log.Texts(Log::warning).empty());
        }
        EXPECT_EQ(clock->Now() - start, c.elapsed);
        testing::Mock::VerifyAndClearExpectations(errorHandler.get());
    }
}

TEST_F(ConnectionHandlerBaseTest, OperationalStatesMapToConnectionStatesAndTheLinkSignal)
{
    using S = ipc::MNetStatus;
    const std::vector<std::pair<std::uint8_t, S::EConnectionState>> cases{
        {Tarv::kOperStateUp, S::EConnected},          {Tarv::kOperStateDown, S::EDisconnected},
        {Tarv::kOperStateLowerLayerDown, S::EDisconnected}, {Tarv::kOperStateTesting, S::EDisconnected},
        {Tarv::kOperStateDormant, S::EDisconnected},  {7, S::EDisconnected},
        {Tarv::kOperStateUnknown, S::ENotSet},        {Tarv::kOperStateNotPresent, S::ENotSet},
    };
    for (const auto& [state, expected] : cases) {
        EXPECT_EQ(CTarvConnectionHandlerBase::ConnectionStateOf(state), expected) << static_cast<int>(state);
    }

    // The signal sent follows the states that give a connection state, and only those.
    auto handler = MakeHandler(ipc::EPlc0);
    std::vector<bool> sent;
    CDiagnosticsCommClient::SetSink([&sent](const CDiagnosticsCommClient::SSample& sample) {
        sent.push_back(std::get<bool>(sample.value));
        return true;
    });
    for (const std::uint8_t state : {Tarv::kOperStateUp, Tarv::kOperStateUnknown, Tarv::kOperStateDown}) {
        ExpectLink("plc0", state);
        EXPECT_EQ(handler->GetStatus().interface(), ipc::EPlc0);
        handler->SendDiagSignals();
    }
    CDiagnosticsCommClient::SetSink(nullptr);
    EXPECT_EQ(sent, (std::vector<bool>{true, true, false}));
    EXPECT_CALL(*netlink, ConnectSocket()).WillOnce(Return(FakeSocket()));
    EXPECT_CALL(*netlink, GetLink(FakeSocket(), "plc0")).WillOnce(Throw(CTarvException()));
    EXPECT_THROW(handler->GetStatus(), CTarvException);
}

TEST_F(ConnectionHandlerBaseTest, AddressAndNetmaskOfTheOwnInterface)
{
    host->AddAddress("wlan0", "10.0.0.9", "255.0.0.0");
    host->AddAddress("eth0", "192.168.7.2", "255.255.255.0");
    host->AddAddress("eth0", "192.168.8.2", "255.255.0.0");
    ipc::MNetStatus status;
    MakeHandler()->GetIpProperties(status);
    EXPECT_EQ(status.properties().ipaddress(), "192.168.7.2");
    EXPECT_EQ(status.properties().subnetmask(), "255.255.255.0");

    ipc::MNetStatus none;
    MakeHandler(ipc::EUap0)->GetIpProperties(none);
    EXPECT_TRUE(log.Contains(Log::warning, "uap0 does not support properties"));
    host->addresses = std::nullopt;
    MakeHandler()->GetIpProperties(none);
    EXPECT_TRUE(log.Contains(Log::error, "Could not get address information"));
    EXPECT_FALSE(none.has_properties());
}

TEST_F(ConnectionHandlerBaseTest, OnlyTheInterfacesOwnDhcpClientIsAskedToRenew)
{
    host->AddProcess(100, "udhcpc", {"udhcpc", "-R", "-i", "eth0", "-p", "/var/run/udhcpc.eth0.pid"});
    host->AddProcess(101, "busybox", {"/bin/busybox", "udhcpc", "-ieth0"});
    host->AddProcess(102, "udhcpc", {"/sbin/udhcpc", "--interface=eth0"});
    host->AddProcess(103, "udhcpc", {"udhcpc", "-i", "wlan0"});
    host->AddProcess(104, "chargectl", {"chargectl", "-i", "eth0"});
    host->AddProcess(105, "udhcpc", {"udhcpc", "-i", "eth0.5"});
    struct SCase {
        std::string pidFile;
        int pid;
        bool renewed;
    };
    const SCase cases[] = {
        {"100\n", 100, true},  {"101", 101, true},   {"102", 102, true},
        {"103", -1, false},    {"104", -1, false},   {"105", -1, false},
        {"", -1, false},       {"-1\n", -1, false},  {"999", -1, false},
        // Not a number: 0, which nobody signals (it would address our own process group).
        {"udhcpc\n", 0, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pidFile);
        root.WriteFile("var/run/udhcpc.eth0.pid", c.pidFile);
        host->signals.clear();
        auto handler = MakeHandler();
        EXPECT_EQ(handler->GetUdhcpcPid(), c.pid);
        handler->UpdateUdhcpc(true); // up at the first query counts as the link coming up
        handler->UpdateUdhcpc(true); // no change: no renewal
        using Sent = std::vector<std::pair<int, int>>;
        EXPECT_EQ(host->signals, (c.renewed ? Sent{{c.pid, SIGUSR1}} : Sent{}));
    }
}

} // namespace
