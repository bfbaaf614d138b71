#include "src/components/handlers/tarvaphandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <deque>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::Return;

namespace {

// Answers each command line from its own script (the last answer repeats;
// unscripted commands succeed silently) and records every line run.
struct CScriptedRunner : IRunCommand {
    SCommandResult Run(const std::string& commandLine, unsigned) override
    {
        commands.push_back(commandLine);
        auto& script = scripts[commandLine];
        SCommandResult result = script.empty() ? SCommandResult{0, ""} : script.front();
        if (script.size() > 1) {
            script.pop_front();
        }
        return result;
    }
    std::map<std::string, std::deque<SCommandResult>> scripts;
    std::vector<std::string> commands;
};

const SCommandResult kRunning{0, "1234"};
const SCommandResult kStopped{1, ""};
const std::string kHostapd = "ssid=EV-Charger-xx-xx-xxx-xxx\nwpa_passphrase=yyyyyyyyyyyyyy\n";
const std::string kDnsmasq = "address=/EV-Charger-xx-xx-xxx-xxx/172.16.0.1\n";

class ApHandlerTest : public ::testing::Test {
protected:
    ApHandlerTest()
    {
        CRootDir::Set(root.Root());
        root.WriteFile("etc/hostapd.conf", kHostapd);
        root.WriteFile("etc/dnsmasq.conf", kDnsmasq);
        ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::optional<std::string>("EV-Charger-01")));
        ON_CALL(*errorHandler, DoesIfExist("uap0")).WillByDefault(Return(true));
        ON_CALL(*errorHandler, IsIfInDesiredState("uap0", _)).WillByDefault(Return(true));
    }
    ~ApHandlerTest() override { CRootDir::Set("/"); }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = [] {
        auto c = std::make_shared<CFakeConfig>();
        c->bools[HwHasWlan] = true;
        c->strings[WlanApPassword] = "AP-secret-99";
        return c;
    }();
    std::shared_ptr<CScriptedRunner> runner = std::make_shared<CScriptedRunner>();
    std::shared_ptr<::testing::NiceMock<MockTarvErrorHandler>> errorHandler =
        std::make_shared<::testing::NiceMock<MockTarvErrorHandler>>();
    std::shared_ptr<::testing::NiceMock<MockHostnameManager>> hostname =
        std::make_shared<::testing::NiceMock<MockHostnameManager>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    TestSupport::CLogCapture log;
    CTarvApHandler ap{config, runner, errorHandler, nullptr, hostname, CTarvApHandler::kDnsmasqConfPath,
                      CTarvApHandler::kHostapdConfPath, clock};
};

TEST_F(ApHandlerTest, InitializePersonalisesBothFilesOnce)
{
    ap.Initialize();
    const std::string hostapd = "ssid=EV-Charger-01\nwpa_passphrase=AP-secret-99\n";
    const std::string dnsmasq = "address=/EV-Charger-01/172.16.0.1\n";
    EXPECT_EQ(root.ReadFile("etc/hostapd.conf") + root.ReadFile("etc/dnsmasq.conf"), hostapd + dnsmasq);
    config->strings[WlanApPassword] = "another-pass"; // the placeholders are gone: nothing changes
    EXPECT_NO_THROW(ap.Initialize());
    EXPECT_EQ(root.ReadFile("etc/hostapd.conf") + root.ReadFile("etc/dnsmasq.conf"), hostapd + dnsmasq);
    EXPECT_TRUE(runner->commands.empty()); // uap0 already there
}

TEST_F(ApHandlerTest, UnusablePassphraseIsRefusedBeforeAnyFileChanges)
{
    const std::pair<std::string, bool> cases[] = {
        {"1234567", false}, {"12345678", true}, {std::string(63, 'p'), true}, {std::string(64, 'p'), false},
        {"password\nwpa=0", false} /* a line of its own */, {"pass\tword1", false}, {"p\xc3\xa4sswort1", false},
        {"with space ~!", true}};
    for (const auto& [passphrase, accepted] : cases) {
        root.WriteFile("etc/hostapd.conf", kHostapd);
        config->strings[WlanApPassword] = passphrase;
        if (accepted) {
            EXPECT_NO_THROW(ap.Initialize());
        } else {
            EXPECT_THROW(ap.Initialize(), CTarvException);
        }
        EXPECT_EQ(root.ReadFile("etc/hostapd.conf") != kHostapd, accepted) << passphrase.size();
        for (const auto& line : log.Lines()) {
            EXPECT_EQ(line.raw.find(passphrase), std::string::npos) << line.raw;
        }
    }
}

TEST_F(ApHandlerTest, InterfaceCreationFailuresThrow)
{
    const std::string iw = "/usr/sbin/iw dev wlan0 interface add uap0 type __ap";
    // iw exit code, uap0 there afterwards, throws
    for (const auto& [exitCode, appears, throws] : {std::tuple{0, true, false}, {1, false, true}, {0, false, true}}) {
        EXPECT_CALL(*errorHandler, DoesIfExist("uap0")).WillOnce(Return(false)).WillRepeatedly(Return(appears));
        runner->scripts[iw] = {{exitCode, ""}};
        runner->commands.clear();
        bool threw = false;
        try {
            ap.Initialize();
        } catch (const CTarvException&) {
            threw = true;
        }
        EXPECT_EQ(threw, throws);
        EXPECT_EQ(runner->commands, std::vector<std::string>{iw});
    }
}

TEST_F(ApHandlerTest, EnableStartsOnlyTheServicesThatAreNotRunning)
{
    const std::string up = "ifup uap0", pidofH = "pidof hostapd", pidofD = "pidof dnsmasq";
    const std::string startH = "/etc/init.d/hostapd2 start", startD = "/etc/init.d/dnsmasq start";
    const struct {
        SCommandResult hostapd, hostapdStart;
        std::vector<std::string> commands;
        bool ok;
    } cases[] = {
        {kStopped, {0, ""}, {up, pidofH, startH, pidofD, startD}, true},
        {kRunning, {0, ""}, {up, pidofH, pidofD, startD}, true},
        {kStopped, {1, ""}, {up, pidofH, startH}, false},
        {{0, ""}, {0, ""}, {up, pidofH, startH, pidofD, startD}, true}, // pidof without a pid: not running
    };
    for (const auto& c : cases) {
        runner->scripts = {{pidofH, {c.hostapd}}, {pidofD, {kStopped}}, {startH, {c.hostapdStart}}};
        runner->commands.clear();
        bool ok = true;
        ap.Enable(ok);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(runner->commands, c.commands);
    }
}

TEST_F(ApHandlerTest, DisableStopsBothServicesAndForceStopsSurvivors)
{
    const struct {
        std::deque<SCommandResult> hostapd; // pidof answers: before its stop, then at each poll
        bool killed, killWorks;
    } cases[] = {
        {{kRunning, kStopped}, false, true},
        {{kRunning, kRunning, kRunning, kStopped}, false, true},
        {{kRunning}, true, true},  // survives its stop script
        {{kRunning}, true, false}, // and even the kill
    };
    for (const auto& c : cases) {
        log.Clear();
        runner->scripts = {{"pidof hostapd", c.hostapd}, {"pidof dnsmasq", {kRunning, kStopped}}};
        runner->commands.clear();
        ON_CALL(*errorHandler, RecoverFromStopProcessError("hostapd")).WillByDefault(Return(c.killWorks));
        EXPECT_CALL(*errorHandler, RecoverFromStopProcessError("hostapd")).Times(c.killed ? 1 : 0);
        EXPECT_CALL(*errorHandler, RecoverFromStopProcessError("dnsmasq")).Times(0);
        const auto start = clock->Now();
        bool ok = true;
        ap.Disable(ok);
        EXPECT_EQ(ok, c.killWorks);
        EXPECT_EQ(std::vector<std::string>(runner->commands.begin(), runner->commands.begin() + 5),
                  (std::vector<std::string>{"ifdown uap0", "pidof dnsmasq", "/etc/init.d/dnsmasq stop",
                                            "pidof hostapd", "/etc/init.d/hostapd2 stop"}));
        // The force stop comes once 2 s have passed on the clock, not before.
        EXPECT_EQ(clock->Now() - start >= CTarvApHandler::kServiceStopTimeout, c.killed);
        EXPECT_EQ(log.Contains(Log::error, "Hostapd is still running after disabling uap0"), !c.killWorks);
        ::testing::Mock::VerifyAndClearExpectations(errorHandler.get());
    }
    runner->scripts = {{"pidof dnsmasq", {kRunning}}, {"/etc/init.d/dnsmasq stop", {{1, ""}}}};
    bool ok = true;
    EXPECT_THROW(ap.Disable(ok), CTarvException);
}

} // namespace
