#include "src/components/handlers/tarvplchandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <condition_variable>
#include <mutex>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::HasSubstr;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StartsWith;

namespace {

const std::string kVersionQuery = "plctool -i plc0 -a";
const std::string kLinkQuery = "plctool -i plc0 -L -q";

class PlcHandlerTest : public ::testing::Test {
protected:
    PlcHandlerTest()
    {
        CRootDir::Set(root.Root());
        root.WriteFile("lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib", "pib");
        root.WriteFile("lib/firmware/qca/MAC-7005-v1.2.5-00-CS.nvm", "nvm");
        config->bools[HwHasPlc] = true;
        config->strings[PlcMacAddr] = "00:01:87:12:34:56";
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        ON_CALL(*netlink, GetLinkState(_)).WillByDefault(Return(Tarv::kOperStateUp));
        ON_CALL(*errorHandler, IsIfInDesiredState("plc0", Tarv::kOperStateUp)).WillByDefault([this](auto&&, auto) {
            std::lock_guard lock(mutex);
            ++polls;
            changed.notify_all();
            return pollsUntilUp >= 0 && polls > pollsUntilUp;
        });
    }
    ~PlcHandlerTest() override
    {
        handler.reset();
        CRootDir::Set("/");
    }

    CTarvPlcHandler& Handler()
    {
        if (!handler) {
            handler = std::make_unique<CTarvPlcHandler>(config, runner, errorHandler, editor, netlink, clock);
        }
        return *handler;
    }
    void WaitForPolls(int n)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return polls >= n; });
    }
    void LoadFirmware()
    {
        EXPECT_CALL(*runner, Run(kVersionQuery, 0u))
            .WillOnce(Return(SCommandResult{0, CTarvPlcHandler::kFirmwareVersion}));
        Handler().LoadQcaFirmware();
    }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<NiceMock<MockRunCommand>> runner = std::make_shared<NiceMock<MockRunCommand>>();
    std::shared_ptr<NiceMock<MockTarvErrorHandler>> errorHandler = std::make_shared<NiceMock<MockTarvErrorHandler>>();
    std::shared_ptr<NiceMock<MockInterfacesFileEditor>> editor = std::make_shared<NiceMock<MockInterfacesFileEditor>>();
    std::shared_ptr<NiceMock<MockTarvNetlink>> netlink = std::make_shared<NiceMock<MockTarvNetlink>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    TestSupport::CLogCapture log;
    std::unique_ptr<CTarvPlcHandler> handler;

    std::mutex mutex; // guards polls and pollsUntilUp
    std::condition_variable changed;
    int polls = 0;
    int pollsUntilUp = 0; // -1: never up
};

TEST(PlcAddressTest, LinkLocalAddressIsModifiedEui64)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"00:01:87:12:34:56", "fe80::0201:87ff:fe12:3456"},
        {"02:1a:2b:3c:4d:5e", "fe80::001a:2bff:fe3c:4d5e"},
        {"20:11:22:33:44:55", "fe80::2211:22ff:fe33:4455"},
        {"FE:00:00:00:00:0A", "fe80::fc00:00ff:fe00:000A"},
        {"00:01:87:12:34", std::nullopt},
        {"00-01-87-12-34-56", std::nullopt},
        {"0g:01:87:12:34:56", std::nullopt},
        {"00:01:87:12:34:56\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [mac, address] : cases) {
        EXPECT_EQ(CTarvPlcHandler::GetLinkLocalAddress(mac), address) << mac;
    }
}

TEST(PlcAddressTest, NetworkKeyIsSixteenFreshHexPairs)
{
    const std::string first = CTarvPlcHandler::GenerateRandomNmk();
    ASSERT_EQ(first.size(), 47u);
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (i % 3 == 2) {
            EXPECT_EQ(first[i], ':') << i;
        } else {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(first[i])) && !std::isupper(first[i])) << i;
        }
    }
    EXPECT_NE(CTarvPlcHandler::GenerateRandomNmk(), first);
}

TEST_F(PlcHandlerTest, InitializeWritesTheLinkLocalStanza)
{
    EXPECT_CALL(*editor, SetAsStaticIpv6("plc0", "fe80::0201:87ff:fe12:3456", "64", _));
    EXPECT_CALL(*editor, SetInterfacesFile(_));
    Handler().Initialize();
    ::testing::Mock::VerifyAndClearExpectations(editor.get());

    for (const auto& [mac, hardware] : {std::pair<std::string, bool>{"not a mac", true}, {"00:01:87:12:34:56", false}}) {
        config->strings[PlcMacAddr] = mac;
        config->bools[HwHasPlc] = hardware;
        handler.reset();
        EXPECT_CALL(*editor, SetAsStaticIpv6(_, _, _, _)).Times(0);
        EXPECT_CALL(*editor, SetInterfacesFile(_)).Times(0);
        Handler().Initialize();
    }
}

TEST_F(PlcHandlerTest, FirmwareIsLoadedUnlessItAlreadyRuns)
{
    struct SCase {
        const char* what;
        std::string version;
        bool filesPresent;
        int bootExit;
        bool bootRuns;
        bool loaded;
    };
    const SCase cases[] = {
        {"already running", std::string("Version: ") + CTarvPlcHandler::kFirmwareVersion + "\n", true, 0, false, true},
        {"other version, loaded", "QCA7005-MAC-1.1.0", true, 0, true, true},
        {"loader fails", "", true, 1, true, false},
        {"firmware file missing", "", false, 0, false, false},
    };
    const std::string boot = "plcboot -i plc0 -P " + root.Root() + "lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib -N " +
                             root.Root() + "lib/firmware/qca/MAC-7005-v1.2.5-00-CS.nvm";
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        handler.reset();
        if (!c.filesPresent) {
            std::remove((root.Root() + "lib/firmware/qca/MAC-7005-v1.2.5-00-CS.nvm").c_str());
        }
        EXPECT_CALL(*runner, Run(kVersionQuery, 0u)).WillOnce(Return(SCommandResult{0, c.version}));
        ON_CALL(*runner, Run(boot, 0u)).WillByDefault(Return(SCommandResult{c.bootExit, ""}));
        EXPECT_CALL(*runner, Run(boot, 0u)).Times(c.bootRuns ? 1 : 0);
        Handler().LoadQcaFirmware();
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
        // Without firmware the status has no connection state and asks nobody.
        EXPECT_CALL(*netlink, ConnectSocket()).Times(c.loaded ? 1 : 0);
        EXPECT_EQ(Handler().GetStatus().connectionstate(),
                  c.loaded ? ipc::MNetStatus::EDisconnected : ipc::MNetStatus::ENotSet);
        ::testing::Mock::VerifyAndClearExpectations(netlink.get());
    }
}

TEST_F(PlcHandlerTest, FirmwarePollLoadsOnceTheLinkIsUp)
{
    pollsUntilUp = 2;
    EXPECT_CALL(*runner, Run("ifup plc0", 0u));
    EXPECT_CALL(*runner, Run(kVersionQuery, 0u)).WillOnce(Return(SCommandResult{0, CTarvPlcHandler::kFirmwareVersion}));
    bool ok = true;
    Handler().Enable(ok);
    ASSERT_TRUE(ok);
    WaitForPolls(1); // at once, link down
    clock->Advance(CTarvPlcHandler::kFirmwarePollPeriod);
    WaitForPolls(2); // still down
    clock->Advance(CTarvPlcHandler::kFirmwarePollPeriod);
    WaitForPolls(3); // up: loads and ends the poll
    clock->Advance(CTarvPlcHandler::kFirmwarePollPeriod * 4);
    handler.reset(); // waits for the worker
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(log.Count("Postponed loading PLC modem firmware, plc interface is down."), 2u);
}

TEST_F(PlcHandlerTest, StatusFollowsTheLastCharacterOfTheLinkQuery)
{
    struct SCase {
        std::uint8_t link;
        std::string output;
        ipc::MNetStatus::EConnectionState state;
    };
    const SCase cases[] = {
        {Tarv::kOperStateUp, "link status: 1", ipc::MNetStatus::EConnected},
        {Tarv::kOperStateUp, "link status: 0", ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateUp, "1\r\n", ipc::MNetStatus::EConnected},
        {Tarv::kOperStateUp, "", ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateUp, "device not found", ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateDown, "1", ipc::MNetStatus::EDisconnected},
    };
    LoadFirmware();
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.output);
        EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce(Return(c.link));
        ON_CALL(*runner, Run(kLinkQuery, 0u)).WillByDefault(Return(SCommandResult{0, c.output}));
        EXPECT_CALL(*runner, Run(kLinkQuery, 0u)).Times(c.link == Tarv::kOperStateUp ? 1 : 0);
        const ipc::MNetStatus status = Handler().GetStatus();
        EXPECT_EQ(status.interface(), ipc::EPlc0);
        EXPECT_EQ(status.connectionstate(), c.state);
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
    }
}

TEST_F(PlcHandlerTest, NetworkKeyIsSetOnceAfterTheFirmwareAndNeverLogged)
{
    EXPECT_CALL(*runner, Run(StartsWith("plctool -i plc0 -M -K "), _)).Times(0);
    Handler().SetNetworkNmk(); // no firmware yet
    ::testing::Mock::VerifyAndClearExpectations(runner.get());

    LoadFirmware();
    std::vector<std::string> keys;
    EXPECT_CALL(*runner, Run(StartsWith("plctool -i plc0 -M -K "), 0u))
        .WillOnce([&](const std::string& line, unsigned) {
            keys.push_back(line.substr(22));
            return SCommandResult{0, std::string("error: ") + CTarvPlcHandler::kNmkFailureMarker};
        })
        .WillOnce([&](const std::string& line, unsigned) {
            keys.push_back(line.substr(22));
            return SCommandResult{0, "ok"};
        });
    for (int call = 0; call < 3; ++call) {
        Handler().SetNetworkNmk();
    }
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_NE(keys[0], keys[1]);
    EXPECT_TRUE(log.Contains(Log::error, "Failed to load new NMK value"));
    EXPECT_TRUE(log.Contains(Log::info, "Successfully reset NMK"));
    for (const auto& line : log.Lines()) {
        for (const auto& key : keys) {
            EXPECT_EQ(line.raw.find(key), std::string::npos) << line.raw;
        }
    }
}

} // namespace
