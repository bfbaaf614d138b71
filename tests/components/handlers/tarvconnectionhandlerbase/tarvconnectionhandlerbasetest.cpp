#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/fakeprocess.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace HandlerMocks;
using namespace std::chrono_literals;
using ::testing::_;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

namespace {

const CSignalDefinition<bool> kTestSignal(123, "Eth state", false);

// Exposes the helpers the derived handlers use.
class CTestHandler : public CTarvConnectionHandlerBase {
public:
    CTestHandler(ipc::EIfName id, std::shared_ptr<ITarvConfig> config, std::shared_ptr<IRunCommand> runner,
                 std::shared_ptr<ITarvErrorHandler> errorHandler, std::shared_ptr<ITarvNetlink> netlink,
                 std::shared_ptr<IClock> clock)
        : CTarvConnectionHandlerBase(id, std::move(config), std::move(runner), std::move(errorHandler), HwHasEthernet,
                                     3s, std::move(netlink), std::move(clock))
    {
        mLinkSignal = std::make_shared<CDiagnosticsSignal<bool>>(&kTestSignal);
    }
    using CTarvConnectionHandlerBase::GetIpProperties;
    using CTarvConnectionHandlerBase::GetUdhcpcPid;
    using CTarvConnectionHandlerBase::TriggerUdhcpcRenew;
    using CTarvConnectionHandlerBase::UpdateUdhcpc;
    using CTarvConnectionHandlerBase::WaitForState;
    CDiagnosticsSignal<bool>& Signal() { return *mLinkSignal; }
};

class ConnectionHandlerBaseTest : public ::testing::Test {
protected:
    ConnectionHandlerBaseTest() { config->bools[HwHasEthernet] = true; }

    std::unique_ptr<CTestHandler> MakeHandler(ipc::EIfName id = ipc::EEth0)
    {
        return std::make_unique<CTestHandler>(id, config, runner, errorHandler, netlink, clock);
    }

    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<StrictMock<MockRunCommand>> runner = std::make_shared<StrictMock<MockRunCommand>>();
    std::shared_ptr<StrictMock<MockTarvErrorHandler>> errorHandler =
        std::make_shared<StrictMock<MockTarvErrorHandler>>();
    std::shared_ptr<StrictMock<MockTarvNetlink>> netlink = std::make_shared<StrictMock<MockTarvNetlink>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    TestSupport::CLogCapture log;
};

TEST_F(ConnectionHandlerBaseTest, UnsupportedInterfaceRunsNothing)
{
    config->bools[HwHasEthernet] = false;
    auto handler = MakeHandler();
    bool ok = true;
    handler->Enable(ok);
    EXPECT_FALSE(ok);
    ok = true;
    handler->Disable(ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(log.Count("eth0 not supported"), 2u);

    // Without a configuration nothing is supported either.
    CTestHandler bare(ipc::EEth0, nullptr, runner, errorHandler, netlink, clock);
    EXPECT_FALSE(bare.IsSupported());
}

TEST_F(ConnectionHandlerBaseTest, EnableTrustsASuccessfulIfupAndFallsBackOnRecovery)
{
    auto handler = MakeHandler();
    EXPECT_CALL(*runner, Run("ifup eth0", 0u))
        .WillOnce(Return(SCommandResult{0, ""}))
        .WillRepeatedly(Return(SCommandResult{1, ""}));
    EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", Tarv::kOperStateUp))
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    bool ok = true;
    handler->Enable(ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(log.Contains(Log::info, "Enabling eth0"));
    handler->Enable(ok);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(log.ContainsSubstring("Could not bring"));

    handler->Enable(ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::error, "Could not bring eth0 up"));
}

TEST_F(ConnectionHandlerBaseTest, DisableWhoseDownCommandFailsAndCannotRecoverThrows)
{
    auto handler = MakeHandler();
    EXPECT_CALL(*runner, Run("ip link set dev eth0 down", 5u)).WillOnce(Return(SCommandResult{1, ""}));
    EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", Tarv::kOperStateDown)).WillOnce(Return(false));
    bool ok = true;
    EXPECT_THROW(handler->Disable(ok), CTarvException);
    EXPECT_TRUE(log.Contains(Log::error, "Could not bring eth0 down"));
}

TEST_F(ConnectionHandlerBaseTest, DisableWaitsForTheLinkToGoDown)
{
    auto handler = MakeHandler();
    const auto start = clock->Now();
    {
        InSequence order;
        EXPECT_CALL(*runner, Run("ip link set dev eth0 down", 5u)).WillOnce(Return(SCommandResult{0, ""}));
        EXPECT_CALL(*runner, Run("ifdown eth0", 0u)).WillOnce(Return(SCommandResult{0, ""}));
        EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown))
            .WillOnce(Return(false))
            .WillOnce(Return(false))
            .WillOnce(Return(true));
    }
    bool ok = true;
    handler->Disable(ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(log.Contains(Log::info, "eth0 interface disabled"));
    EXPECT_TRUE(log.Contains(Log::trace, "CTarvConnectionHandlerBase::Disable"));
    // First query at once, then one every 100 ms; the sleep after the match is kept.
    EXPECT_EQ(clock->Now() - start, 300ms);
}

TEST_F(ConnectionHandlerBaseTest, DisableRecoveredByTheErrorHandlerStillWaits)
{
    auto handler = MakeHandler();
    EXPECT_CALL(*runner, Run("ip link set dev eth0 down", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("ifdown eth0", 0u)).WillOnce(Return(SCommandResult{127, ""}));
    EXPECT_CALL(*errorHandler, RecoverFromIfUpDown("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
    EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown)).WillOnce(Return(true));
    bool ok = true;
    handler->Disable(ok);
    EXPECT_TRUE(ok);
}

TEST_F(ConnectionHandlerBaseTest, DisableThatNeverSeesTheDownStateThrowsAfterTwoSeconds)
{
    auto handler = MakeHandler();
    const auto start = clock->Now();
    EXPECT_CALL(*runner, Run(_, _)).WillRepeatedly(Return(SCommandResult{0, ""}));
    // Queries at 0, 100, ..., 2000 ms; the one at 2000 ms already counts as too late.
    EXPECT_CALL(*errorHandler, IsIfInDesiredState("eth0", Tarv::kOperStateDown))
        .Times(21)
        .WillRepeatedly(Return(false));
    bool ok = true;
    EXPECT_THROW(handler->Disable(ok), CTarvException);
    EXPECT_TRUE(log.Contains(Log::error, "Could not bring eth0 down"));
    EXPECT_EQ(clock->Now() - start, 2100ms);
}

TEST_F(ConnectionHandlerBaseTest, StateReachedExactlyAtTheTimeoutIsAFailure)
{
    auto handler = MakeHandler(ipc::EUap0);
    EXPECT_CALL(*errorHandler, IsIfInDesiredState("uap0", Tarv::kOperStateUp))
        .WillOnce(Return(false))
        .WillOnce(Return(false))
        .WillOnce(Return(true));
    bool ok = true;
    handler->WaitForState(clock->Now(), Tarv::kOperStateUp, 200ms, ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(Log::warning, "Could not enable uap0 interface"));
}

TEST_F(ConnectionHandlerBaseTest, WaitingForUpReportsPerInterface)
{
    auto uap = MakeHandler(ipc::EUap0);
    EXPECT_CALL(*errorHandler, IsIfInDesiredState("uap0", Tarv::kOperStateUp))
        .WillOnce(Return(false))
        .WillOnce(Return(true));
    bool ok = true;
    uap->WaitForState(clock->Now(), Tarv::kOperStateUp, 3s, ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(log.Contains(Log::info, "uap0 interface enabled"));

    // The WLAN station keeps quiet about a link that does not come up.
    auto wlan = MakeHandler(ipc::EWlan0);
    EXPECT_CALL(*errorHandler, IsIfInDesiredState("wlan0", Tarv::kOperStateUp)).WillRepeatedly(Return(false));
    wlan->WaitForState(clock->Now(), Tarv::kOperStateUp, 8s, ok);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(log.ContainsSubstring("Could not enable"));
}

TEST_F(ConnectionHandlerBaseTest, StatusMapsOperationalStates)
{
    struct SCase {
        std::uint8_t state;
        ipc::MNetStatus::EConnectionState expected;
    };
    const SCase cases[] = {
        {Tarv::kOperStateUp, ipc::MNetStatus::EConnected},
        {Tarv::kOperStateDown, ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateLowerLayerDown, ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateTesting, ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateDormant, ipc::MNetStatus::EDisconnected},
        {7, ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateUnknown, ipc::MNetStatus::ENotSet},
        {Tarv::kOperStateNotPresent, ipc::MNetStatus::ENotSet},
    };
    auto handler = MakeHandler(ipc::EPlc0);
    for (const SCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        EXPECT_CALL(*netlink, ConnectSocket()).WillOnce(Return(FakeSocket()));
        EXPECT_CALL(*netlink, GetLink(FakeSocket(), "plc0")).WillOnce(Return(FakeLink()));
        EXPECT_CALL(*netlink, GetLinkState(FakeLink())).WillOnce(Return(c.state));
        EXPECT_CALL(*netlink, DeleteExternalNetlinkPointers(FakeSocket(), FakeLink()));

        // A state that gives no connection state leaves the signal alone.
        const bool before = !handler->Signal().Receive();
        handler->Signal().SetValue(before);
        const ipc::MNetStatus status = handler->GetStatus();
        EXPECT_EQ(status.interface(), ipc::EPlc0);
        EXPECT_EQ(status.connectionstate(), c.expected);
        EXPECT_FALSE(status.has_properties());
        const bool expectedSignal = c.expected == ipc::MNetStatus::ENotSet
                                        ? before
                                        : c.expected == ipc::MNetStatus::EConnected;
        EXPECT_EQ(handler->Signal().Receive(), expectedSignal);
        ::testing::Mock::VerifyAndClearExpectations(netlink.get());
    }
}

TEST_F(ConnectionHandlerBaseTest, StatusOfAMissingLinkThrowsAndReleasesNothing)
{
    auto handler = MakeHandler(ipc::ELte0);
    EXPECT_CALL(*netlink, ConnectSocket()).WillOnce(Return(FakeSocket()));
    EXPECT_CALL(*netlink, GetLink(FakeSocket(), "lte0")).WillOnce(Throw(CTarvException()));
    EXPECT_THROW(handler->GetStatus(), CTarvException);
}

TEST_F(ConnectionHandlerBaseTest, OnlyEthernetAndWlanHaveProperties)
{
    auto handler = MakeHandler(ipc::EUap0);
    ipc::MNetStatus status;
    handler->GetIpProperties(status);
    EXPECT_FALSE(status.has_properties());
    EXPECT_TRUE(log.Contains(Log::warning, "uap0 does not support properties"));
}

class UdhcpcTest : public ConnectionHandlerBaseTest {
protected:
    UdhcpcTest() { CRootDir::Set(root.Root()); }
    ~UdhcpcTest() override { CRootDir::Set("/"); }
    void WritePidFile(const std::string& content) { root.WriteFile("var/run/udhcpc.eth0.pid", content); }

    TestSupport::CTempDir root;
};

TEST_F(UdhcpcTest, RenewsOnlyWhenTheLinkComesUp)
{
    auto handler = MakeHandler();
    CFakeProcess first("udhcpc");
    WritePidFile(std::to_string(first.Pid()) + "\n");
    handler->UpdateUdhcpc(false); // no change from the initial state
    handler->UpdateUdhcpc(true);
    EXPECT_EQ(first.EndAndGetSignal(), SIGUSR1);
    EXPECT_TRUE(log.Contains(Log::info, "Triggered renew udhcpc for eth0"));

    CFakeProcess second("udhcpc");
    WritePidFile(std::to_string(second.Pid()) + "\n");
    handler->UpdateUdhcpc(true);
    EXPECT_EQ(second.EndAndGetSignal(), SIGTERM);

    CFakeProcess third("udhcpc");
    WritePidFile(std::to_string(third.Pid()) + "\n");
    handler->UpdateUdhcpc(false);
    handler->UpdateUdhcpc(true);
    EXPECT_EQ(third.EndAndGetSignal(), SIGUSR1);
}

TEST_F(UdhcpcTest, StalePidFileNamingAnotherProcessIsNotSignalled)
{
    auto handler = MakeHandler();
    CFakeProcess unrelated("chargectl");
    WritePidFile(std::to_string(unrelated.Pid()));
    EXPECT_EQ(handler->GetUdhcpcPid(), -1);
    handler->UpdateUdhcpc(true);
    EXPECT_FALSE(handler->TriggerUdhcpcRenew(unrelated.Pid()));
    EXPECT_EQ(unrelated.EndAndGetSignal(), SIGTERM);
    EXPECT_TRUE(log.ContainsSubstring("which is not udhcpc"));
    EXPECT_FALSE(log.ContainsSubstring("Triggered renew"));
}

TEST_F(UdhcpcTest, PidFileContents)
{
    auto handler = MakeHandler();
    const std::string path = root.Root() + "var/run/udhcpc.eth0.pid";

    EXPECT_EQ(handler->GetUdhcpcPid(), -1);
    EXPECT_TRUE(log.Contains(Log::error, "Could not open " + path));

    WritePidFile("");
    log.Clear();
    EXPECT_EQ(handler->GetUdhcpcPid(), -1);
    EXPECT_TRUE(log.Contains(Log::error, "Could not open " + path));

    WritePidFile("-1\n");
    EXPECT_EQ(handler->GetUdhcpcPid(), -1);
    EXPECT_TRUE(log.Contains(Log::error, "Failed to read " + path));

    // Not a number: 0, which nobody signals (it would address our own process group).
    WritePidFile("udhcpc\n");
    EXPECT_EQ(handler->GetUdhcpcPid(), 0);
    EXPECT_FALSE(handler->TriggerUdhcpcRenew(0));
    EXPECT_FALSE(handler->TriggerUdhcpcRenew(-1));
}

} // namespace
