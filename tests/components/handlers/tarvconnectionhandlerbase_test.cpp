#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include "platform/ipc/diagnosticscommclient.h"
#include "tests/components/mocks/handlerfixture.h"

#include <poll.h>
#include <signal.h>

#include <future>
#include <thread>

using namespace HandlerMocks;
using namespace std::chrono_literals;
using namespace ::testing;

namespace {

const CSignalDefinition<bool> kTestSignal(123, "Eth state", false);

// Exposes the helpers the derived handlers use.
class CTestHandler : public CTarvConnectionHandlerBase {
public:
    using CTarvConnectionHandlerBase::CTarvConnectionHandlerBase;
    using CTarvConnectionHandlerBase::GetIpProperties;
    using CTarvConnectionHandlerBase::UpdateUdhcpc;
    using CTarvConnectionHandlerBase::WaitForState;

    bool IsLateUpStateAFailure() const override { return lateUpIsFailure; }
    bool lateUpIsFailure = true;
};

class ConnectionHandlerBaseTest : public CHandlerFixture<StrictMock> {
protected:
    ConnectionHandlerBaseTest() { config->bools[HwHasEthernet] = true; }

    std::unique_ptr<CTestHandler> MakeHandler(ipc::EIfName id = ipc::EEth0,
                                              const CSignalDefinition<bool>* signal = &kTestSignal)
    {
        return std::make_unique<CTestHandler>(Parts(), CTestHandler::SInterface{id, HwHasEthernet, 3s, signal});
    }
};

TEST_F(ConnectionHandlerBaseTest, MissingPartsAreRefusedAndUnsupportedHardwareRunsNothing)
{
    SHandlerParts noConfig = Parts();
    noConfig.config = nullptr;
    EXPECT_THROW(CTestHandler(noConfig, {ipc::EEth0, HwHasEthernet, 3s, &kTestSignal}), std::invalid_argument);
    EXPECT_THROW(MakeHandler(ipc::EEth0, nullptr), std::invalid_argument);

    config->bools[HwHasEthernet] = false;
    auto handler = MakeHandler();
    EXPECT_FALSE(OkAfter(*handler, &CTestHandler::Enable));
    EXPECT_FALSE(OkAfter(*handler, &CTestHandler::Disable));
}

TEST_F(ConnectionHandlerBaseTest, CommandsThenRecoveryWhenOneFails)
{
    const std::string up = "ifup eth0", link = "ip link set dev eth0 down", down = "ifdown eth0";
    // Enable or Disable; the command lines and exit codes, in order; recovery asked and its answer; ok; throws
    const std::tuple<bool, std::vector<std::pair<std::string, int>>, std::optional<bool>, bool, bool> cases[] = {
        {true, {{up, 0}}, std::nullopt, true, false},
        {true, {{up, 1}}, true, true, false},
        {true, {{up, 1}}, false, false, false},
        {false, {{link, 0}, {down, 0}}, std::nullopt, true, false},
        {false, {{link, 0}, {down, 127}}, true, true, false},
        {false, {{link, 1}}, false, true, true},
    };
    auto handler = MakeHandler();
    for (const auto& [enable, commands, recovered, expectOk, throws] : cases) {
        SCOPED_TRACE(::testing::Message() << commands.back().first << " " << commands.back().second << " "
                                          << recovered.value_or(false));
        log.Clear();
        {
            InSequence order;
            for (const auto& [command, exitCode] : commands) {
                EXPECT_CALL(*runner, Run(command, command == link ? 5u : 0u))
                    .WillOnce(Return(SCommandResult{exitCode, ""}));
            }
            const std::uint8_t desired = enable ? Tarv::kOperStateUp : Tarv::kOperStateDown;
            if (recovered) {
                EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", desired)).WillOnce(Return(*recovered));
            }
            if (!enable && !throws) {
                EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
            }
        }
        bool ok = true;
        EXPECT_EQ(Throws([&, enable = enable] { enable ? handler->Enable(ok) : handler->Disable(ok); }), throws);
        EXPECT_EQ(ok, expectOk);
        const std::string failure = enable ? "Could not bring eth0 up" : "Could not bring eth0 down";
        EXPECT_EQ(log.Contains(Log::error, failure), !expectOk || throws);
        Mock::VerifyAndClearExpectations(runner.get());
        Mock::VerifyAndClearExpectations(errorHandler.get());
    }
}

TEST_F(ConnectionHandlerBaseTest, DisableCancelsABringUpOfAWorkerInsteadOfWaitingBehindIt)
{
    auto handler = MakeHandler();
    std::promise<void> started;
    bool cancelled = false;
    // The ifup waits for a lease that does not come, until its work is
    // cancelled (the bound only keeps a failing run from hanging).
    EXPECT_CALL(*runner, Run("ifup eth0", 0u)).WillOnce([&](const std::string&, unsigned) {
        const CCancelToken* const token = CCancelToken::Current();
        started.set_value();
        pollfd event{token != nullptr ? token->Fd() : -1, POLLIN, 0};
        cancelled = token != nullptr && ::poll(&event, 1, 30000) == 1;
        return SCommandResult{};
    });
    {
        InSequence order;
        EXPECT_CALL(*runner, Run("ip link set dev eth0 down", 5u)).WillOnce(Return(SCommandResult{0, ""}));
        EXPECT_CALL(*runner, Run("ifdown eth0", 0u)).WillOnce(Return(SCommandResult{0, ""}));
    }
    EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
    // The cancelled bring-up is not recovered (the strict mock has no RecoverFromIfUpDown).
    bool upOk = true;
    std::thread worker([&] { handler->Enable(upOk); });
    started.get_future().wait();
    bool downOk = true;
    handler->Disable(downOk);
    worker.join();
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(upOk);
    EXPECT_TRUE(downOk);
}

TEST_F(ConnectionHandlerBaseTest, WaitingForAStatePollsUntilItsTimeout)
{
    using std::chrono::milliseconds;
    // misses: polls before the state shows (-1: never); line: nullptr for no warning at all.
    const std::tuple<ipc::EIfName, bool, std::uint8_t, milliseconds, int, bool, bool, const char*, milliseconds>
        cases[] = {
        {ipc::EEth0, true, Tarv::kOperStateDown, 2s, 2, true, false, "eth0 interface disabled", 300ms},
        // A handler that lets a slow link pass must still see a link that stays up.
        {ipc::EEth0, false, Tarv::kOperStateDown, 2s, -1, true, true, "Could not bring eth0 down", 2100ms},
        // Seen only when the time is already up: a failure.
        {ipc::EUap0, true, Tarv::kOperStateUp, 200ms, 2, false, false, "Could not enable uap0 interface", 300ms},
        // A handler that watches its link itself.
        {ipc::EWlan0, false, Tarv::kOperStateUp, 8s, -1, true, false, nullptr, 8100ms},
    };
    for (const auto& [id, lateUpIsFailure, state, timeout, misses, expectOk, throws, line, elapsed] : cases) {
        SCOPED_TRACE(line ? line : "no warning");
        log.Clear();
        auto handler = MakeHandler(id);
        handler->lateUpIsFailure = lateUpIsFailure;
        int polls = 0;
        EXPECT_CALL(*errorHandler, IsIfInDesiredState(handler->GetInterfaceName(), state))
            .WillRepeatedly([&, misses = misses](auto&&, auto) { return misses >= 0 && polls++ >= misses; });
        const auto start = clock->Now();
        bool ok = true;
        EXPECT_EQ(Throws([&, state = state, timeout = timeout] { handler->WaitForState(start, state, timeout, ok); }), throws);
        EXPECT_EQ(ok, expectOk);
        EXPECT_TRUE(line ? log.ContainsSubstring(line) : log.Texts(Log::warning).empty());
        EXPECT_EQ(clock->Now() - start, elapsed);
        Mock::VerifyAndClearExpectations(errorHandler.get());
    }
}

TEST_F(ConnectionHandlerBaseTest, OperationalStatesMapToConnectionStatesAndTheLinkSignal)
{
    using S = ipc::MNetStatus;
    // The signal follows the states that give a connection state, and only those.
    const std::tuple<std::uint8_t, S::EConnectionState, bool> cases[] = {
        {Tarv::kOperStateUp, S::EConnected, true}, {Tarv::kOperStateUnknown, S::ENotSet, true},
        {Tarv::kOperStateDown, S::EDisconnected, false}, {Tarv::kOperStateUp, S::EConnected, true},
        {Tarv::kOperStateNotPresent, S::ENotSet, true}, {Tarv::kOperStateLowerLayerDown, S::EDisconnected, false},
        {Tarv::kOperStateDormant, S::EDisconnected, false}, {7, S::EDisconnected, false}};
    auto handler = MakeHandler(ipc::EPlc0);
    std::optional<bool> sent;
    CDiagnosticsCommClient::SetSink([&sent](const CDiagnosticsCommClient::SSample& sample) {
        sent = std::get<bool>(sample.value);
        return true;
    });
    for (const auto& [state, connection, signal] : cases) {
        linkState = state;
        const S status = handler->GetStatus();
        handler->SendDiagSignals();
        EXPECT_EQ(status.interface(), ipc::EPlc0);
        EXPECT_EQ(status.connectionstate(), connection) << static_cast<int>(state);
        EXPECT_EQ(sent, signal) << static_cast<int>(state);
    }
    CDiagnosticsCommClient::SetSink(nullptr);
    EXPECT_CALL(*netlink, GetLink(_, "plc0")).WillOnce(Throw(CTarvException()));
    EXPECT_THROW(handler->GetStatus(), CTarvException);
}

TEST_F(ConnectionHandlerBaseTest, AddressNetmaskAndDhcpRenewalOfTheOwnInterfaceOnly)
{
    host->AddAddress("wlan0", "10.0.0.9", "255.0.0.0");
    host->AddAddress("eth0", "192.168.7.2", "255.255.255.0");
    host->AddAddress("eth0", "192.168.8.2", "255.255.0.0");
    ipc::MNetStatus status;
    MakeHandler()->GetIpProperties(status);
    EXPECT_EQ(status.properties().ipaddress() + "/" + status.properties().subnetmask(), "192.168.7.2/255.255.255.0");

    ipc::MNetStatus none;
    MakeHandler(ipc::EUap0)->GetIpProperties(none);
    host->addresses = std::nullopt;
    MakeHandler()->GetIpProperties(none);
    EXPECT_TRUE(log.Contains(Log::error, "Could not get address information"));
    EXPECT_FALSE(none.has_properties());

    host->AddProcess(100, "udhcpc", {"udhcpc", "-R", "-i", "eth0", "-p", "/var/run/udhcpc.eth0.pid"});
    host->AddProcess(101, "busybox", {"/bin/busybox", "udhcpc", "-ieth0"});
    host->AddProcess(102, "udhcpc", {"/sbin/udhcpc", "--interface=eth0"});
    host->AddProcess(103, "udhcpc", {"udhcpc", "-i", "wlan0"});
    host->AddProcess(104, "chargectl", {"chargectl", "-i", "eth0"});
    host->AddProcess(105, "udhcpc", {"udhcpc", "-i", "eth0.5"});
    // Pid file content and the pid read; only a positive one is renewed.
    const std::pair<std::string, int> cases[] = {
        {"100\n", 100}, {"101", 101}, {"102", 102}, {"103", -1}, {"104", -1}, {"105", -1}, {"", -1}, {"-1\n", -1},
        {"999", -1},
        // Not a number: 0, which nobody signals (it would address our own process group).
        {"udhcpc\n", 0},
    };
    for (const auto& [pidFile, pid] : cases) {
        SCOPED_TRACE(pidFile);
        root.WriteFile("var/run/udhcpc.eth0.pid", pidFile);
        host->signals.clear();
        auto handler = MakeHandler();
        handler->UpdateUdhcpc(true); // up at the first query counts as the link coming up
        handler->UpdateUdhcpc(true); // no change: no renewal
        using Sent = std::vector<std::pair<int, int>>;
        EXPECT_EQ(host->signals, (pid > 0 ? Sent{{pid, SIGUSR1}} : Sent{}));
    }
}

} // namespace
