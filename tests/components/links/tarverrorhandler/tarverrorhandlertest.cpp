#include "src/components/links/tarverrorhandler.h"

#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

// A link service over a table of present links and their states; checks that
// every link handed out is given back exactly once.
class ErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ON_CALL(*netlink, ConnectSocket()).WillByDefault(Return(FakeSocket()));
        ON_CALL(*netlink, GetLink(_, _)).WillByDefault([this](nl_sock*, const std::string& name) {
            if (states.count(name) == 0) {
                throw CTarvException();
            }
            ++outstanding;
            lastName = name;
            return FakeLink();
        });
        ON_CALL(*netlink, GetLinkState(_)).WillByDefault([this](rtnl_link*) { return states[lastName]; });
        ON_CALL(*netlink, DeleteExternalNetlinkPointers(_, _)).WillByDefault([this](nl_sock* s, rtnl_link* l) {
            EXPECT_EQ(s, FakeSocket());
            EXPECT_EQ(l, FakeLink());
            --outstanding;
        });
    }
    void TearDown() override { EXPECT_EQ(outstanding, 0); }

    std::shared_ptr<NiceMock<MockTarvNetlink>> netlink = std::make_shared<NiceMock<MockTarvNetlink>>();
    std::shared_ptr<StrictMock<MockRunCommand>> runner = std::make_shared<StrictMock<MockRunCommand>>();
    CTarvErrorHandler handler{runner, netlink};
    std::map<std::string, std::uint8_t> states;
    std::string lastName;
    int outstanding = 0;
    TestSupport::CLogCapture log;
};

TEST_F(ErrorHandlerTest, ExistenceAndStateQueriesReleaseWhatTheyTake)
{
    states["eth0"] = Tarv::kOperStateUp;
    EXPECT_TRUE(handler.DoesIfExist("eth0"));
    EXPECT_TRUE(handler.IsIfInDesiredState("eth0", Tarv::kOperStateUp));
    EXPECT_FALSE(handler.IsIfInDesiredState("eth0", Tarv::kOperStateDown));

    EXPECT_FALSE(handler.DoesIfExist("lte0"));
    EXPECT_TRUE(log.Contains(Log::trace, "lte0 interface does not exist"));
    EXPECT_TRUE(log.Contains(Log::trace, "CTarvErrorHandler::DoesIfExist"));
    EXPECT_THROW(handler.IsIfInDesiredState("lte0", Tarv::kOperStateUp), CTarvException);
}

TEST_F(ErrorHandlerTest, InterfaceAlreadyInStateRunsNoCommand)
{
    states["eth0"] = Tarv::kOperStateUp;
    EXPECT_TRUE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
    states["eth0"] = Tarv::kOperStateDown;
    EXPECT_TRUE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateDown));
}

TEST_F(ErrorHandlerTest, MissingInterfaceThrowsBeforeAnyCommand)
{
    EXPECT_THROW(handler.RecoverFromIfUpDown("wlan0", Tarv::kOperStateUp), CTarvException);
}

TEST_F(ErrorHandlerTest, UpRecoveryFlushesAndRunsIfup)
{
    states["eth0"] = Tarv::kOperStateDown;
    InSequence order;
    EXPECT_CALL(*runner, Run("ip addr flush eth0", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("ifup eth0", 0u)).WillOnce([this](const std::string&, unsigned) {
        states["eth0"] = Tarv::kOperStateUp;
        return SCommandResult{0, ""};
    });
    EXPECT_TRUE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
    EXPECT_FALSE(log.ContainsSubstring("could not recover"));
}

TEST_F(ErrorHandlerTest, UpRecoveryFailsWhenTheLinkStaysDownAfterIfup)
{
    // The state is read right after ifup, without waiting.
    states["eth0"] = Tarv::kOperStateLowerLayerDown;
    EXPECT_CALL(*runner, Run("ip addr flush eth0", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("ifup eth0", 0u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_FALSE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
    EXPECT_TRUE(log.Contains(Log::error, "could not recover and bring eth0 up"));
}

TEST_F(ErrorHandlerTest, FailedFlushStopsTheRecovery)
{
    states["eth0"] = Tarv::kOperStateDown;
    EXPECT_CALL(*runner, Run("ip addr flush eth0", 5u)).WillOnce(Return(SCommandResult{1, ""}));
    EXPECT_FALSE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
    EXPECT_TRUE(log.Contains(Log::error, "could not recover and bring eth0 up"));
}

TEST_F(ErrorHandlerTest, DownRecoveryWhoseLinkCommandFailsSkipsIfdown)
{
    states["wlan0"] = Tarv::kOperStateUp;
    EXPECT_CALL(*runner, Run("ip addr flush wlan0", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("ip link set dev wlan0 down", 5u)).WillOnce(Return(SCommandResult{2, ""}));
    EXPECT_FALSE(handler.RecoverFromIfUpDown("wlan0", Tarv::kOperStateDown));
    // The text says "up" for both directions.
    EXPECT_TRUE(log.Contains(Log::error, "could not recover and bring wlan0 up"));
}

TEST_F(ErrorHandlerTest, DownRecoveryRunsBothCommandsThenChecks)
{
    states["wlan0"] = Tarv::kOperStateUp;
    InSequence order;
    EXPECT_CALL(*runner, Run("ip addr flush wlan0", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("ip link set dev wlan0 down", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("ifdown wlan0", 0u)).WillOnce([this](const std::string&, unsigned) {
        states["wlan0"] = Tarv::kOperStateDown;
        return SCommandResult{0, ""};
    });
    EXPECT_TRUE(handler.RecoverFromIfUpDown("wlan0", Tarv::kOperStateDown));
}

TEST_F(ErrorHandlerTest, OtherDesiredStatesOnlyFlush)
{
    states["plc0"] = Tarv::kOperStateUp;
    EXPECT_CALL(*runner, Run("ip addr flush plc0", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_FALSE(handler.RecoverFromIfUpDown("plc0", Tarv::kOperStateDormant));
    EXPECT_TRUE(log.Contains(Log::error, "could not recover and bring plc0 up"));
}

TEST_F(ErrorHandlerTest, InterfaceVanishingBetweenQueriesFailsWithoutCommands)
{
    states["eth0"] = Tarv::kOperStateDown;
    EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce([this](rtnl_link*) {
        states.erase("eth0");
        return Tarv::kOperStateDown;
    });
    EXPECT_FALSE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
    EXPECT_TRUE(log.Contains(Log::error, "could not recover and bring eth0 up"));
}

TEST_F(ErrorHandlerTest, ProcessThatDiesAtOnce)
{
    InSequence order;
    EXPECT_CALL(*runner, Run("killall -9 hostapd", 5u)).WillOnce(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("pidof hostapd", 0u)).WillOnce(Return(SCommandResult{1, ""}));
    EXPECT_TRUE(handler.RecoverFromStopProcessError("hostapd"));
}

TEST_F(ErrorHandlerTest, ProcessThatSurvivesFiveAttempts)
{
    EXPECT_CALL(*runner, Run("killall -9 ntpd", 5u)).Times(5).WillRepeatedly(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("pidof ntpd", 0u)).Times(5).WillRepeatedly(Return(SCommandResult{0, "812"}));
    EXPECT_FALSE(handler.RecoverFromStopProcessError("ntpd"));
    EXPECT_TRUE(log.Contains(Log::error, "Could not recover from stopping ntpd"));
}

TEST_F(ErrorHandlerTest, KillallFailingEveryTimeNeverAsksPidof)
{
    EXPECT_CALL(*runner, Run("killall -9 dnsmasq", 5u)).Times(5).WillRepeatedly(Return(SCommandResult{1, ""}));
    EXPECT_FALSE(handler.RecoverFromStopProcessError("dnsmasq"));
}

TEST_F(ErrorHandlerTest, PidofThatNeverRanProvesNothing)
{
    // exitCode -1: popen failed or pidof was killed; the process may still run.
    EXPECT_CALL(*runner, Run("killall -9 ntpd", 5u)).Times(5).WillRepeatedly(Return(SCommandResult{0, ""}));
    EXPECT_CALL(*runner, Run("pidof ntpd", 0u)).Times(5).WillRepeatedly(Return(SCommandResult{-1, ""}));
    EXPECT_FALSE(handler.RecoverFromStopProcessError("ntpd"));
}

} // namespace
