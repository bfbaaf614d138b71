#include "src/components/handlers/tarvplchandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <condition_variable>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::Return;
using ::testing::StartsWith;

namespace {

const std::string kVersionQuery = "plctool -i plc0 -a";
const std::string kNvm = "lib/firmware/qca/MAC-7005-v1.2.5-00-CS.nvm";

class PlcHandlerTest : public ::testing::Test {
protected:
    PlcHandlerTest()
    {
        CRootDir::Set(root.Root());
        root.WriteFile("lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib", "pib");
        root.WriteFile(kNvm, "nvm");
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        EXPECT_CALL(*runner, Run(_, _)).Times(::testing::AnyNumber());
        ON_CALL(*netlink, GetLinkState(_)).WillByDefault(Return(Tarv::kOperStateUp));
        ON_CALL(*errorHandler, IsIfInDesiredState("plc0", Tarv::kOperStateUp)).WillByDefault([this](auto&&, auto) {
            std::lock_guard lock(mutex);
            changed.notify_all();
            return ++polls > 2; // up from the third poll on
        });
    }
    ~PlcHandlerTest() override { CRootDir::Set("/"); }

    void LoadFirmware()
    {
        EXPECT_CALL(*runner, Run(kVersionQuery, 0u)).WillOnce(Return(SCommandResult{0, CTarvPlcHandler::kFirmwareVersion}));
        plc->LoadQcaFirmware();
    }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = [] {
        auto c = std::make_shared<CFakeConfig>();
        c->bools[HwHasPlc] = true;
        c->strings[PlcMacAddr] = "00:01:87:12:34:56";
        return c;
    }();
    std::shared_ptr<::testing::NiceMock<MockRunCommand>> runner = std::make_shared<::testing::NiceMock<MockRunCommand>>();
    std::shared_ptr<::testing::NiceMock<MockTarvErrorHandler>> errorHandler =
        std::make_shared<::testing::NiceMock<MockTarvErrorHandler>>();
    std::shared_ptr<::testing::NiceMock<MockInterfacesFileEditor>> editor =
        std::make_shared<::testing::NiceMock<MockInterfacesFileEditor>>();
    std::shared_ptr<::testing::NiceMock<MockTarvNetlink>> netlink = std::make_shared<::testing::NiceMock<MockTarvNetlink>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    TestSupport::CLogCapture log;
    std::mutex mutex; // guards polls
    std::condition_variable changed;
    int polls = 0;
    std::unique_ptr<CTarvPlcHandler> plc =
        std::make_unique<CTarvPlcHandler>(config, runner, errorHandler, editor, netlink, clock);
};

TEST(PlcAddressTest, LinkLocalAddressIsModifiedEui64AndKeysAreFreshHexPairs)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"00:01:87:12:34:56", "fe80::0201:87ff:fe12:3456"}, {"02:1a:2b:3c:4d:5e", "fe80::001a:2bff:fe3c:4d5e"},
        {"20:11:22:33:44:55", "fe80::2211:22ff:fe33:4455"}, {"FE:00:00:00:00:0A", "fe80::fc00:00ff:fe00:000A"},
        {"00:01:87:12:34", std::nullopt}, {"00-01-87-12-34-56", std::nullopt}, {"0g:01:87:12:34:56", std::nullopt},
        {"00:01:87:12:34:56\n", std::nullopt}};
    for (const auto& [mac, address] : cases) {
        EXPECT_EQ(CTarvPlcHandler::GetLinkLocalAddress(mac), address) << mac;
    }
    const std::string key = CTarvPlcHandler::GenerateRandomNmk();
    ASSERT_EQ(key.size(), 47u);
    for (std::size_t i = 0; i < key.size(); ++i) {
        EXPECT_TRUE(i % 3 == 2 ? key[i] == ':' : std::isxdigit(key[i]) && !std::isupper(key[i])) << key;
    }
    EXPECT_NE(CTarvPlcHandler::GenerateRandomNmk(), key);
}

TEST_F(PlcHandlerTest, InitializeWritesTheStanzaOnlyForAUsableMac)
{
    EXPECT_CALL(*editor, SetAsStaticIpv6("plc0", "fe80::0201:87ff:fe12:3456", "64", _));
    EXPECT_CALL(*editor, SetInterfacesFile(_));
    plc->Initialize();
    ::testing::Mock::VerifyAndClearExpectations(editor.get());
    config->strings[PlcMacAddr] = "not a mac";
    EXPECT_CALL(*editor, SetInterfacesFile(_)).Times(0);
    plc->Initialize();
}

TEST_F(PlcHandlerTest, FirmwareIsLoadedUnlessItAlreadyRuns)
{
    const std::string boot = "plcboot -i plc0 -P " + root.Root() + "lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib -N " +
                             root.Root() + kNvm;
    const struct {
        std::string version;
        int bootExit;
        bool bootRuns, loaded;
    } cases[] = {
        {std::string("Version: ") + CTarvPlcHandler::kFirmwareVersion + "\n", 0, false, true},
        {"QCA7005-MAC-1.1.0", 0, true, true},
        {"", 1, true, false},
        {"", 0, false, false}, // firmware file missing
    };
    for (const auto& c : cases) {
        plc = std::make_unique<CTarvPlcHandler>(config, runner, errorHandler, editor, netlink, clock);
        EXPECT_CALL(*runner, Run(_, _)).Times(::testing::AnyNumber());
        if (!c.bootRuns && !c.loaded) {
            std::remove((root.Root() + kNvm).c_str());
        }
        EXPECT_CALL(*runner, Run(kVersionQuery, 0u)).WillOnce(Return(SCommandResult{0, c.version}));
        ON_CALL(*runner, Run(boot, 0u)).WillByDefault(Return(SCommandResult{c.bootExit, ""}));
        EXPECT_CALL(*runner, Run(boot, 0u)).Times(c.bootRuns ? 1 : 0);
        plc->LoadQcaFirmware();
        // Without firmware the status has no connection state and asks nobody.
        EXPECT_CALL(*netlink, ConnectSocket()).Times(c.loaded ? 1 : 0);
        EXPECT_EQ(plc->GetStatus().connectionstate(), c.loaded ? ipc::MNetStatus::EDisconnected : ipc::MNetStatus::ENotSet);
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
        ::testing::Mock::VerifyAndClearExpectations(netlink.get());
    }
}

TEST_F(PlcHandlerTest, FirmwarePollLoadsOnceTheLinkIsUp)
{
    EXPECT_CALL(*runner, Run(kVersionQuery, 0u))
        .Times(2)
        .WillRepeatedly(Return(SCommandResult{0, CTarvPlcHandler::kFirmwareVersion}));
    bool ok = true;
    plc->Enable(ok);
    for (int poll = 1; poll <= 3; ++poll) { // down, down, up: loads and ends the poll
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return polls >= poll; });
        lock.unlock();
        clock->Advance(CTarvPlcHandler::kFirmwarePollPeriod);
    }
    clock->Advance(CTarvPlcHandler::kFirmwarePollPeriod * 4);
    // The worker's thread ended with the poll; a later enable polls again.
    plc->Enable(ok);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return polls >= 4; });
    }
    plc.reset(); // waits for the worker
    EXPECT_EQ(polls, 4);
    EXPECT_EQ(log.Count("Postponed loading PLC modem firmware, plc interface is down."), 2u);
}

TEST_F(PlcHandlerTest, StatusFollowsTheLastCharacterOfTheLinkQuery)
{
    const std::tuple<std::uint8_t, std::string, ipc::MNetStatus::EConnectionState> cases[] = {
        {Tarv::kOperStateUp, "link status: 1", ipc::MNetStatus::EConnected},
        {Tarv::kOperStateUp, "link status: 0", ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateUp, "1\r\n", ipc::MNetStatus::EConnected},
        {Tarv::kOperStateUp, "", ipc::MNetStatus::EDisconnected},
        {Tarv::kOperStateDown, "1", ipc::MNetStatus::EDisconnected}};
    LoadFirmware();
    for (const auto& [link, output, state] : cases) {
        clock->Advance(CTarvPlcHandler::kLinkQueryPeriod);
        EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce(Return(link));
        ON_CALL(*runner, Run("plctool -i plc0 -L -q", 0u)).WillByDefault(Return(SCommandResult{0, output}));
        EXPECT_CALL(*runner, Run("plctool -i plc0 -L -q", 0u)).Times(link == Tarv::kOperStateUp ? 1 : 0);
        EXPECT_EQ(plc->GetStatus().connectionstate(), state) << output;
        ::testing::Mock::VerifyAndClearExpectations(runner.get());
    }
}

// The link query runs a command: it is repeated after kLinkQueryPeriod, or at
// once when plc0 went down and came back.
TEST_F(PlcHandlerTest, LinkQueryIsReusedWithinItsPeriod)
{
    LoadFirmware();
    using std::chrono::milliseconds;
    const std::pair<milliseconds, std::uint8_t> steps[] = {{milliseconds(0), Tarv::kOperStateUp},
        {milliseconds(4999), Tarv::kOperStateUp}, {milliseconds(1), Tarv::kOperStateUp},
        {milliseconds(0), Tarv::kOperStateDown}, {milliseconds(0), Tarv::kOperStateUp}};
    EXPECT_CALL(*runner, Run("plctool -i plc0 -L -q", 0u)).Times(3); // first, after 5 s, after down
    for (const auto& [advance, link] : steps) {
        clock->Advance(advance);
        EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce(Return(link));
        plc->GetStatus();
    }
}

TEST_F(PlcHandlerTest, NetworkKeyIsSetOnceAfterTheFirmwareAndNeverLogged)
{
    EXPECT_CALL(*runner, Run(StartsWith("plctool -i plc0 -M -K "), _)).Times(0);
    plc->SetNetworkNmk(); // no firmware yet
    ::testing::Mock::VerifyAndClearExpectations(runner.get());
    LoadFirmware();
    std::vector<std::string> keys;
    const auto answer = [&](std::string output) {
        return [&keys, output](const std::string& line, unsigned) {
            keys.push_back(line.substr(22));
            return SCommandResult{0, output};
        };
    };
    EXPECT_CALL(*runner, Run(StartsWith("plctool -i plc0 -M -K "), 0u))
        .WillOnce(answer(std::string("error: ") + CTarvPlcHandler::kNmkFailureMarker))
        .WillOnce(answer("ok"));
    for (int call = 0; call < 3; ++call) {
        plc->SetNetworkNmk();
    }
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE(log.Contains(Log::error, "Failed to load new NMK value"));
    for (const auto& line : log.Lines()) {
        EXPECT_TRUE(line.raw.find(keys[0]) == std::string::npos && line.raw.find(keys[1]) == std::string::npos);
    }
}

} // namespace
