#include "src/components/handlers/tarvplchandler.h"

#include "tests/components/mocks/handlerfixture.h"

#include <condition_variable>
#include <regex>

using namespace HandlerMocks;
using namespace ::testing;

namespace {

const std::string kVersionQuery = "plctool -i plc0 -a";
const std::string kNvm = "lib/firmware/qca/MAC-7005-v1.2.5-00-CS.nvm";

class PlcHandlerTest : public CHandlerFixture<NiceMock> {
protected:
    PlcHandlerTest()
    {
        config->bools[HwHasPlc] = true;
        config->strings[PlcMacAddr] = "00:01:87:12:34:56";
        root.WriteFile("lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib", "pib");
        root.WriteFile(kNvm, "nvm");
        ON_CALL(*runner, Run(_, _)).WillByDefault(Return(SCommandResult{0, ""}));
        EXPECT_CALL(*runner, Run(_, _)).Times(AnyNumber());
        ON_CALL(*errorHandler, IsIfInDesiredState("plc0", Tarv::kOperStateUp)).WillByDefault([this](auto&&, auto) {
            std::lock_guard lock(mutex);
            changed.notify_all();
            return ++polls > 2; // up from the third poll on
        });
        MakeHandler();
    }

    void MakeHandler() { plc = std::make_unique<CTarvPlcHandler>(Parts()); }
    void LoadFirmware()
    {
        EXPECT_CALL(*runner, Run(kVersionQuery, 0u)).WillOnce(Return(SCommandResult{0, CTarvPlcHandler::kFirmwareVersion}));
        plc->LoadQcaFirmware();
    }

    std::mutex mutex; // guards polls
    std::condition_variable changed;
    int polls = 0;
    std::unique_ptr<CTarvPlcHandler> plc;
};

TEST(PlcAddressTest, LinkLocalAddressIsModifiedEui64AndKeysAreFreshHexPairs)
{
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"00:01:87:12:34:56", "fe80::0201:87ff:fe12:3456"}, {"02:1a:2b:3c:4d:5e", "fe80::001a:2bff:fe3c:4d5e"},
        {"00:01:87:12:34:56\n", std::nullopt}, {"00-01-87-12-34-56", std::nullopt}, {"0g:01:87:12:34:56", std::nullopt}};
    for (const auto& [mac, address] : cases) {
        EXPECT_EQ(CTarvPlcHandler::GetLinkLocalAddress(mac), address) << mac;
    }
    const std::string key = CTarvPlcHandler::GenerateRandomNmk();
    EXPECT_TRUE(std::regex_match(key, std::regex("([0-9a-f]{2}:){15}[0-9a-f]{2}"))) << key;
    EXPECT_NE(CTarvPlcHandler::GenerateRandomNmk(), key);
}

TEST_F(PlcHandlerTest, InitializeWritesTheStanzaOnlyForAUsableMac)
{
    EXPECT_CALL(*editor, SetAsStaticIpv6("plc0", "fe80::0201:87ff:fe12:3456", "64", _));
    EXPECT_CALL(*editor, SetInterfacesFile(_));
    plc->Initialize();
    Mock::VerifyAndClearExpectations(editor.get());
    config->strings[PlcMacAddr] = "not a mac";
    EXPECT_CALL(*editor, SetInterfacesFile(_)).Times(0);
    plc->Initialize();
}

TEST_F(PlcHandlerTest, FirmwareIsLoadedUnlessItAlreadyRuns)
{
    const std::string boot = "plcboot -i plc0 -P " + root.Root() + "lib/firmware/qca/QCA7005-SpiSlave-EVSE.pib -N " +
                             root.Root() + kNvm;
    const struct { std::string version; int bootExit; bool bootRuns, loaded; } cases[] = {
        {std::string("Version: ") + CTarvPlcHandler::kFirmwareVersion + "\n", 0, false, true},
        {"QCA7005-MAC-1.1.0", 0, true, true},
        {"", 1, true, false},
        {"", 0, false, false}, // firmware file missing
    };
    for (const auto& c : cases) {
        MakeHandler();
        EXPECT_CALL(*runner, Run(_, _)).Times(AnyNumber());
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
        Mock::VerifyAndClearExpectations(runner.get());
        Mock::VerifyAndClearExpectations(netlink.get());
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
}

// The link query runs a command: its answer is reused within kLinkQueryPeriod,
// and asked again at once when plc0 went down and came back.
TEST_F(PlcHandlerTest, StatusFollowsTheLinkQueryAskedOncePerPeriod)
{
    using S = ipc::MNetStatus;
    using std::chrono::milliseconds;
    const milliseconds period = CTarvPlcHandler::kLinkQueryPeriod;
    const struct { milliseconds advance; std::uint8_t link; std::string output; S::EConnectionState state; bool asked; }
        cases[] = {
            {period, Tarv::kOperStateUp, "link status: 1", S::EConnected, true},
            {period - milliseconds(1), Tarv::kOperStateUp, "link status: 0", S::EConnected, false}, // the last answer
            {milliseconds(1), Tarv::kOperStateUp, "link status: 0", S::EDisconnected, true},
            {period, Tarv::kOperStateUp, "1\r\n", S::EConnected, true},
            {period, Tarv::kOperStateUp, "", S::EDisconnected, true},
            {milliseconds(0), Tarv::kOperStateDown, "1", S::EDisconnected, false},
            {milliseconds(0), Tarv::kOperStateUp, "1", S::EConnected, true}};
    LoadFirmware();
    for (const auto& c : cases) {
        clock->Advance(c.advance);
        EXPECT_CALL(*netlink, GetLinkState(_)).WillOnce(Return(c.link));
        ON_CALL(*runner, Run("plctool -i plc0 -L -q", 0u)).WillByDefault(Return(SCommandResult{0, c.output}));
        EXPECT_CALL(*runner, Run("plctool -i plc0 -L -q", 0u)).Times(c.asked ? 1 : 0);
        EXPECT_EQ(plc->GetStatus().connectionstate(), c.state) << &c - cases;
        Mock::VerifyAndClearExpectations(runner.get());
    }
}

TEST_F(PlcHandlerTest, NetworkKeyIsSetOnceAfterTheFirmwareAndNeverLogged)
{
    std::vector<std::string> keys;
    const auto answer = [&keys](std::string output) {
        return [&keys, output](const std::string& line, unsigned) {
            keys.push_back(line.substr(22));
            return SCommandResult{0, output};
        };
    };
    EXPECT_CALL(*runner, Run(StartsWith("plctool -i plc0 -M -K "), 0u))
        .WillOnce(answer(std::string("error: ") + CTarvPlcHandler::kNmkFailureMarker))
        .WillOnce(answer("ok"));
    plc->SetNetworkNmk(); // no firmware yet
    EXPECT_TRUE(keys.empty());
    LoadFirmware();
    for (int call = 0; call < 3; ++call) {
        plc->SetNetworkNmk();
    }
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE(log.Contains(Log::error, "Failed to load new NMK value"));
    EXPECT_FALSE(log.ContainsSubstring(keys[0]) || log.ContainsSubstring(keys[1]));
}

} // namespace
