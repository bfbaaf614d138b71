#include "src/components/handlers/tarvaphandler.h"

#include "tests/components/mocks/fakeprocessowner.h"
#include "tests/components/mocks/handlerfixture.h"

#include <algorithm>
#include <functional>

using namespace HandlerMocks;
using namespace ::testing;

namespace {

const std::string kHostapd = "ssid=EV-Charger-xx-xx-xxx-xxx\nwpa_passphrase=yyyyyyyyyyyyyy\n";
const std::string kDnsmasq = "address=/EV-Charger-xx-xx-xxx-xxx/172.16.0.1\n";

class ApHandlerTest : public CHandlerFixture<NiceMock> {
protected:
    ApHandlerTest()
    {
        root.WriteFile("etc/hostapd.conf", kHostapd);
        root.WriteFile("etc/dnsmasq.conf", kDnsmasq);
        config->bools[HwHasWlan] = true;
        config->strings[WlanApPassword] = "AP-secret-99";
        ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::optional<std::string>("EV-Charger-01")));
        ON_CALL(*errorHandler, DoesIfExist("uap0")).WillByDefault(Return(true));
        ON_CALL(*errorHandler, IsIfInDesiredState("uap0", _)).WillByDefault(Return(true));
        // The runner records every line, calls onRun with it, and answers the exit code listed for it (or 0).
        ON_CALL(*runner, Run).WillByDefault([this](const std::string& line, unsigned) {
            commands.push_back(line);
            if (onRun) {
                onRun(line);
            }
            return SCommandResult{exits.contains(line) ? exits.at(line) : 0, ""};
        });
        SHandlerParts parts = Parts();
        parts.netlink = nullptr;
        parts.processOwner = processes;
        ap = std::make_unique<CTarvApHandler>(parts);
    }

    std::map<std::string, int> exits;
    std::vector<std::string> commands;
    std::function<void(const std::string&)> onRun;
    std::shared_ptr<CFakeProcessOwner> processes = std::make_shared<CFakeProcessOwner>();
    std::unique_ptr<CTarvApHandler> ap;
};

TEST_F(ApHandlerTest, InitializePersonalisesBothFilesOnceWithAUsablePassphrase)
{
    const std::pair<std::string, bool> cases[] = {
        {"1234567", false}, {std::string(64, 'p'), false}, {"password\nwpa=0", false} /* a line of its own */,
        {"pass\tword1", false}, {"p\xc3\xa4sswort1", false},
        {"12345678", true}, {std::string(63, 'p'), true}, {"with space ~!", true}};
    for (const auto& [passphrase, accepted] : cases) {
        root.WriteFile("etc/hostapd.conf", kHostapd);
        config->strings[WlanApPassword] = passphrase;
        EXPECT_EQ(Throws([&] { ap->Initialize(); }), !accepted);
        EXPECT_EQ(root.ReadFile("etc/hostapd.conf"),
                  accepted ? "ssid=EV-Charger-01\nwpa_passphrase=" + passphrase + "\n" : kHostapd);
        EXPECT_EQ(root.ReadFile("etc/dnsmasq.conf") == kDnsmasq, !accepted); // the refused ones come first
        EXPECT_FALSE(log.ContainsSubstring(passphrase)) << passphrase;
    }
    EXPECT_EQ(root.ReadFile("etc/dnsmasq.conf"), "address=/EV-Charger-01/172.16.0.1\n");
    // The placeholders are gone: nothing changes.
    const std::string personalised = root.ReadFile("etc/hostapd.conf");
    config->strings[WlanApPassword] = "another-pass";
    EXPECT_FALSE(Throws([&] { ap->Initialize(); }));
    EXPECT_EQ(root.ReadFile("etc/hostapd.conf"), personalised);
    EXPECT_TRUE(commands.empty()); // uap0 already there
}

TEST_F(ApHandlerTest, InitializeCreatesAMissingUap0OrThrows)
{
    const std::string iw = "/usr/sbin/iw dev wlan0 interface add uap0 type __ap";
    // iw exit code, uap0 there afterwards, throws
    for (const auto& [exitCode, appears, throws] : {std::tuple{0, true, false}, {1, false, true}, {0, false, true}}) {
        EXPECT_CALL(*errorHandler, DoesIfExist("uap0")).WillOnce(Return(false)).WillRepeatedly(Return(appears));
        exits[iw] = exitCode;
        commands.clear();
        EXPECT_EQ(Throws([&] { ap->Initialize(); }), throws);
        EXPECT_EQ(commands, std::vector<std::string>{iw});
    }
}

TEST_F(ApHandlerTest, EnableStartsOnlyItsOwnServicesThatAreNotRunning)
{
    const std::string up = "ifup uap0", startH = "/etc/init.d/hostapd2 start", startD = "/etc/init.d/dnsmasq start";
    // hostapd running, the exit code of its start, the commands run, ok
    const std::tuple<bool, int, std::vector<std::string>, bool> cases[] = {
        {false, 0, {up, startH, startD}, true},
        {true, 0, {up, startD}, true},
        {false, 1, {up, startH}, false},
    };
    for (const auto& [hostapdRuns, hostapdStart, expected, ok] : cases) {
        processes->running = {{"/run/modem-dnsmasq.pid", 7}}; // not the access point's
        if (hostapdRuns) {
            processes->running["/run/hostapd.pid"] = 10;
        }
        exits = {{startH, hostapdStart}};
        commands.clear();
        EXPECT_EQ(OkAfter(*ap, &CTarvApHandler::Enable), ok);
        EXPECT_EQ(commands, expected);
    }
}

TEST_F(ApHandlerTest, DisableStopsBothServicesAndForceStopsOnlyItsOwnSurvivors)
{
    // The stop scripts end the services unless they hang.
    const struct { bool hangs, stubborn; } cases[] = {{false, false}, {true, false}, {true, true}};
    for (const auto& c : cases) {
        log.Clear();
        processes->running = {{"/run/hostapd.pid", 10}, {"/run/dnsmasq/dnsmasq.pid", 11}, {"/run/modem-dnsmasq.pid", 12}};
        processes->stubborn = c.stubborn ? std::set<std::string>{"hostapd"} : std::set<std::string>{};
        onRun = [&](const std::string& command) {
            if (command == "/etc/init.d/dnsmasq stop") {
                processes->running.erase("/run/dnsmasq/dnsmasq.pid");
            } else if (command == "/etc/init.d/hostapd2 stop" && !c.hangs) {
                processes->running.erase("/run/hostapd.pid");
            }
        };
        commands.clear();
        processes->calls.clear();
        const auto start = clock->Now();
        EXPECT_EQ(OkAfter(*ap, &CTarvApHandler::Disable), !c.stubborn);
        EXPECT_EQ(commands, (std::vector<std::string>{"ifdown uap0", "/etc/init.d/dnsmasq stop",
                                                      "/etc/init.d/hostapd2 stop"}));
        const auto& calls = processes->calls;
        // The force stop comes once 2 s have passed on the clock, not before, and for hostapd only.
        EXPECT_EQ(clock->Now() - start >= CTarvApHandler::kServiceStopTimeout, c.hangs);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "Stop hostapd"), c.hangs ? 1 : 0);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "Stop dnsmasq"), 0);
        EXPECT_EQ(processes->running.count("/run/modem-dnsmasq.pid"), 1u);
        EXPECT_EQ(log.Contains(Log::error, "Hostapd is still running after disabling uap0"), c.stubborn);
    }
    onRun = nullptr;
    processes->running = {{"/run/dnsmasq/dnsmasq.pid", 11}};
    exits = {{"/etc/init.d/dnsmasq stop", 1}};
    bool ok = true;
    EXPECT_THROW(ap->Disable(ok), CTarvException);
}

} // namespace
