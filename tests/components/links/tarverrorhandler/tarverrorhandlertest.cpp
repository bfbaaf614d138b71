#include "src/components/links/tarverrorhandler.h"

#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;

namespace {

// A link service over a table of present links and their states; checks that
// every link handed out is given back exactly once. A state change may show
// only after some further queries, as the kernel reports carrier changes late.
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
        ON_CALL(*netlink, GetLinkState(_)).WillByDefault([this](rtnl_link*) {
            if (pending && pending->queriesLeft-- == 0) {
                states[lastName] = pending->state;
                pending.reset();
            }
            return states[lastName];
        });
        ON_CALL(*netlink, DeleteExternalNetlinkPointers(_, _)).WillByDefault([this](nl_sock* s, rtnl_link* l) {
            EXPECT_EQ(s, FakeSocket());
            EXPECT_EQ(l, FakeLink());
            --outstanding;
        });
    }
    void TearDown() override { EXPECT_EQ(outstanding, 0); }

    struct SPending {
        std::uint8_t state;
        int queriesLeft;
    };

    std::shared_ptr<NiceMock<MockTarvNetlink>> netlink = std::make_shared<NiceMock<MockTarvNetlink>>();
    std::shared_ptr<StrictMock<MockRunCommand>> runner = std::make_shared<StrictMock<MockRunCommand>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    CTarvErrorHandler handler{runner, netlink, clock};
    std::map<std::string, std::uint8_t> states;
    std::optional<SPending> pending;
    std::string lastName;
    int outstanding = 0;
    TestSupport::CLogCapture log;
};

TEST_F(ErrorHandlerTest, QueriesReleaseWhatTheyTakeAndAMissingInterfaceIsNeverRecovered)
{
    states["eth0"] = Tarv::kOperStateUp;
    EXPECT_TRUE(handler.DoesIfExist("eth0"));
    EXPECT_TRUE(handler.IsIfInDesiredState("eth0", Tarv::kOperStateUp));
    EXPECT_FALSE(handler.IsIfInDesiredState("eth0", Tarv::kOperStateDown));
    EXPECT_FALSE(handler.DoesIfExist("lte0"));
    EXPECT_THROW(handler.IsIfInDesiredState("lte0", Tarv::kOperStateUp), CTarvException);
    EXPECT_THROW(handler.RecoverFromIfUpDown("lte0", Tarv::kOperStateUp), CTarvException);

    // Vanishing between the state query and the recovery: a failure, no command run.
    EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce([this](rtnl_link*) {
        states.erase("eth0");
        return Tarv::kOperStateDown;
    });
    EXPECT_FALSE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
}

TEST_F(ErrorHandlerTest, RecoveryRunsItsCommandsInOrderAndTrustsOnlySuccessAndTheKernel)
{
    constexpr std::uint8_t kUp = Tarv::kOperStateUp;
    constexpr std::uint8_t kDown = Tarv::kOperStateDown;
    struct SStep {
        std::string command;
        unsigned retries;
        int exitCode;
        std::optional<std::uint8_t> linkBecomes{}; // after this command
    };
    struct SCase {
        const char* name;
        std::uint8_t initial;
        std::uint8_t desired;
        std::vector<SStep> steps;
        int lateQueries; // state queries before the new state shows
        bool recovered;
    };
    const std::vector<SCase> cases{
        {"already up", kUp, kUp, {}, 0, true},
        {"already down", kDown, kDown, {}, 0, true},
        {"up", kDown, kUp, {{"ip addr flush eth0", 5, 0}, {"ifup eth0", 0, 0, kUp}}, 0, true},
        {"up, shown late", kDown, kUp, {{"ip addr flush eth0", 5, 0}, {"ifup eth0", 0, 0, kUp}}, 20, true},
        {"up, never shown", Tarv::kOperStateLowerLayerDown, kUp,
         {{"ip addr flush eth0", 5, 0}, {"ifup eth0", 0, 0}}, 0, false},
        {"ifup failed", kDown, kUp, {{"ip addr flush eth0", 5, 0}, {"ifup eth0", 0, 1, kUp}}, 0, false},
        {"flush failed", kDown, kUp, {{"ip addr flush eth0", 5, 1}}, 0, false},
        {"down", kUp, kDown,
         {{"ip addr flush eth0", 5, 0}, {"ip link set dev eth0 down", 5, 0}, {"ifdown eth0", 0, 0, kDown}}, 0, true},
        {"link command failed", kUp, kDown, {{"ip addr flush eth0", 5, 0}, {"ip link set dev eth0 down", 5, 2}}, 0,
         false},
        {"ifdown failed", kUp, kDown,
         {{"ip addr flush eth0", 5, 0}, {"ip link set dev eth0 down", 5, 0, kDown}, {"ifdown eth0", 0, 1}}, 0, false},
        {"no command reaches dormant", kUp, Tarv::kOperStateDormant, {{"ip addr flush eth0", 5, 0}}, 0, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        states["eth0"] = c.initial;
        pending.reset();
        {
            InSequence order;
            for (const SStep& step : c.steps) {
                EXPECT_CALL(*runner, Run(step.command, step.retries)).WillOnce([this, step, &c](const std::string&, unsigned) {
                    if (step.linkBecomes) {
                        pending = SPending{*step.linkBecomes, c.lateQueries};
                    }
                    return SCommandResult{step.exitCode, ""};
                });
            }
        }
        EXPECT_EQ(handler.RecoverFromIfUpDown("eth0", c.desired), c.recovered);
        EXPECT_EQ(log.Contains(Log::error, "could not recover and bring eth0 up"), !c.recovered);
        testing::Mock::VerifyAndClearExpectations(runner.get());
    }
}

TEST_F(ErrorHandlerTest, StoppingAProcessEndsWhenPidofFindsNone)
{
    struct SCase {
        const char* name;
        SCommandResult killall;
        SCommandResult pidof;
        int rounds;
        bool stopped;
    };
    const SCase cases[] = {
        {"dies at once", {0, ""}, {1, ""}, 1, true},
        {"had already exited", {1, ""}, {1, ""}, 1, true},
        {"survives every attempt", {0, ""}, {0, "812"}, 5, false},
        // exitCode -1: pidof never ran to completion; the process may still run.
        {"pidof never ran", {0, ""}, {-1, ""}, 5, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        {
            InSequence order;
            for (int round = 0; round < c.rounds; ++round) {
                EXPECT_CALL(*runner, Run("killall -9 ntpd", 5u)).WillOnce(Return(c.killall));
                EXPECT_CALL(*runner, Run("pidof ntpd", 0u)).WillOnce(Return(c.pidof));
            }
        }
        EXPECT_EQ(handler.RecoverFromStopProcessError("ntpd"), c.stopped);
        EXPECT_EQ(log.Contains(Log::error, "Could not recover from stopping ntpd"), !c.stopped);
        testing::Mock::VerifyAndClearExpectations(runner.get());
    }
}

} // namespace
