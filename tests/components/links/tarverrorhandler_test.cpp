#include "src/components/links/tarverrorhandler.h"

#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

using namespace HandlerMocks;
using namespace ::testing;

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
            if (queriesLeft >= 0 && queriesLeft-- == 0) {
                states[lastName] = pendingState;
            }
            return states[lastName];
        });
        ON_CALL(*netlink, DeleteExternalNetlinkPointers(_, _)).WillByDefault([this](nl_sock* s, rtnl_link* l) {
            EXPECT_TRUE(s == FakeSocket() && l == FakeLink());
            --outstanding;
        });
    }
    void TearDown() override { EXPECT_EQ(outstanding, 0); }

    std::shared_ptr<NiceMock<MockTarvNetlink>> netlink = std::make_shared<NiceMock<MockTarvNetlink>>();
    std::shared_ptr<StrictMock<MockRunCommand>> runner = std::make_shared<StrictMock<MockRunCommand>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    CTarvErrorHandler handler{runner, netlink, clock};
    std::map<std::string, std::uint8_t> states;
    std::uint8_t pendingState = 0; // shown once queriesLeft more queries were answered (-1: none pending)
    int queriesLeft = -1;
    std::string lastName;
    int outstanding = 0;
    TestSupport::CLogCapture log;
};

// Every case also checks (at tear-down) that each link taken is released.
// A missing interface throws; one vanishing between the state query and the
// recovery is a failure, and no command runs.
TEST_F(ErrorHandlerTest, AMissingOrVanishingInterfaceIsNeverRecovered)
{
    states["eth0"] = Tarv::kOperStateUp;
    EXPECT_THROW(handler.RecoverFromIfUpDown("lte0", Tarv::kOperStateUp), CTarvException);
    EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce([this](rtnl_link*) {
        states.erase("eth0");
        return Tarv::kOperStateDown;
    });
    EXPECT_FALSE(handler.RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
}

TEST_F(ErrorHandlerTest, RecoveryRunsItsCommandsInOrderAndTrustsTheKernel)
{
    constexpr std::uint8_t kUp = Tarv::kOperStateUp, kDown = Tarv::kOperStateDown;
    struct SStep {
        std::string command;
        int exitCode;
        std::optional<std::uint8_t> linkBecomes{}; // after this command
    };
    const SStep flush{"ip addr flush eth0", 0}, link{"ip link set dev eth0 down", 0};
    // name, link state before and desired, the commands, state queries before a new state shows, recovered
    const std::tuple<const char*, std::uint8_t, std::uint8_t, std::vector<SStep>, int, bool> cases[] = {
        {"already up", kUp, kUp, {}, 0, true},
        {"up", kDown, kUp, {flush, {"ifup eth0", 0, kUp}}, 0, true},
        {"up, shown late", kDown, kUp, {flush, {"ifup eth0", 0, kUp}}, 20, true},
        {"up, never shown", Tarv::kOperStateLowerLayerDown, kUp, {flush, {"ifup eth0", 0}}, 0, false},
        {"ifup failed", kDown, kUp, {flush, {"ifup eth0", 1, kUp}}, 0, false},
        {"flush failed", kDown, kUp, {{"ip addr flush eth0", 1}}, 0, false},
        {"down", kUp, kDown, {flush, link, {"ifdown eth0", 0, kDown}}, 0, true},
        {"link command failed", kUp, kDown, {flush, {"ip link set dev eth0 down", 2}}, 0, false},
        {"ifdown failed", kUp, kDown, {flush, {link.command, 0, kDown}, {"ifdown eth0", 1}}, 0, false},
        {"no command reaches dormant", kUp, Tarv::kOperStateDormant, {flush}, 0, false},
    };
    for (const auto& [name, initial, desired, steps, lateQueries, recovered] : cases) {
        SCOPED_TRACE(name);
        log.Clear();
        states["eth0"] = initial;
        queriesLeft = -1;
        InSequence order;
        for (const SStep& step : steps) {
            const unsigned retries = step.command.rfind("if", 0) == 0 ? 0u : 5u;
            EXPECT_CALL(*runner, Run(step.command, retries))
                .WillOnce([this, step, late = lateQueries](const std::string&, unsigned) {
                    if (step.linkBecomes) {
                        pendingState = *step.linkBecomes;
                        queriesLeft = late;
                    }
                    return SCommandResult{step.exitCode, ""};
                });
        }
        EXPECT_EQ(handler.RecoverFromIfUpDown("eth0", desired), recovered);
        EXPECT_EQ(log.Contains(Log::error, "could not recover and bring eth0 up"), !recovered);
        Mock::VerifyAndClearExpectations(runner.get());
    }
}

} // namespace
