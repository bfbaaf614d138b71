#include "src/components/handlers/tarvaphandler.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace HandlerMocks;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

namespace {

// Answers each command line from its own script (the last answer repeats;
// unscripted commands succeed silently) and records every line run.
class CScriptedRunner : public IRunCommand {
public:
    SCommandResult Run(const std::string& commandLine, unsigned) override
    {
        commands.push_back(commandLine);
        auto it = scripts.find(commandLine);
        if (it == scripts.end() || it->second.empty()) {
            return {0, ""};
        }
        SCommandResult result = it->second.front();
        if (it->second.size() > 1) {
            it->second.pop_front();
        }
        return result;
    }
    std::map<std::string, std::deque<SCommandResult>> scripts;
    std::vector<std::string> commands;
};

const SCommandResult kRunning{0, "1234"};
const SCommandResult kStopped{1, ""};

const std::string kHostapdTemplate = "interface=uap0\nssid=EV-Charger-xx-xx-xxx-xxx\nwpa_passphrase=yyyyyyyyyyyyyy\n";
const std::string kDnsmasqTemplate = "interface=uap0\naddress=/EV-Charger-xx-xx-xxx-xxx/172.16.0.1\n";

class ApHandlerTest : public ::testing::Test {
protected:
    ApHandlerTest()
    {
        CRootDir::Set(root.Root());
        root.WriteFile("etc/hostapd.conf", kHostapdTemplate);
        root.WriteFile("etc/dnsmasq.conf", kDnsmasqTemplate);
        config->bools[HwHasWlan] = true;
        config->strings[WlanApPassword] = "AP-secret-99";
        ON_CALL(*hostname, GetHostname()).WillByDefault(Return(std::optional<std::string>("EV-Charger-01")));
        ON_CALL(*errorHandler, DoesIfExist("uap0")).WillByDefault(Return(true));
        ON_CALL(*errorHandler, IsIfInDesiredState("uap0", _)).WillByDefault(Return(true));
        ON_CALL(*errorHandler, RecoverFromStopProcessError(_)).WillByDefault(Return(true));
    }
    ~ApHandlerTest() override
    {
        handler.reset();
        CRootDir::Set("/");
    }

    CTarvApHandler& Handler()
    {
        if (!handler) {
            handler = std::make_unique<CTarvApHandler>(config, runner, errorHandler, netlink, hostname,
                                                       CTarvApHandler::kDnsmasqConfPath,
                                                       CTarvApHandler::kHostapdConfPath, clock);
        }
        return *handler;
    }

    TestSupport::CTempDir root;
    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<CScriptedRunner> runner = std::make_shared<CScriptedRunner>();
    std::shared_ptr<NiceMock<MockTarvErrorHandler>> errorHandler = std::make_shared<NiceMock<MockTarvErrorHandler>>();
    std::shared_ptr<NiceMock<MockTarvNetlink>> netlink = std::make_shared<NiceMock<MockTarvNetlink>>();
    std::shared_ptr<NiceMock<MockHostnameManager>> hostname = std::make_shared<NiceMock<MockHostnameManager>>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    TestSupport::CLogCapture log;
    std::unique_ptr<CTarvApHandler> handler;
};

TEST_F(ApHandlerTest, InitializePersonalisesBothFilesOnce)
{
    Handler().Initialize();
    const std::string hostapd = "interface=uap0\nssid=EV-Charger-01\nwpa_passphrase=AP-secret-99\n";
    const std::string dnsmasq = "interface=uap0\naddress=/EV-Charger-01/172.16.0.1\n";
    EXPECT_EQ(root.ReadFile("etc/hostapd.conf"), hostapd);
    EXPECT_EQ(root.ReadFile("etc/dnsmasq.conf"), dnsmasq);
    // The placeholders are gone: a second run changes nothing and succeeds.
    config->strings[WlanApPassword] = "another-pass";
    EXPECT_NO_THROW(Handler().Initialize());
    EXPECT_EQ(root.ReadFile("etc/hostapd.conf"), hostapd);
    EXPECT_EQ(root.ReadFile("etc/dnsmasq.conf"), dnsmasq);
    EXPECT_TRUE(runner->commands.empty()); // uap0 already there
}

TEST_F(ApHandlerTest, UnusablePassphraseIsRefusedBeforeAnyFileChanges)
{
    const std::pair<std::string, bool> cases[] = {
        {"1234567", false},
        {"12345678", true},
        {std::string(63, 'p'), true},
        {std::string(64, 'p'), false},
        {"password\nwpa=0", false},     // would add a line of its own
        {"pass\tword1", false},
        {"p\xc3\xa4sswort1", false},
        {"with space ~!", true},
    };
    for (const auto& [passphrase, accepted] : cases) {
        SCOPED_TRACE(std::to_string(passphrase.size()));
        root.WriteFile("etc/hostapd.conf", kHostapdTemplate);
        log.Clear();
        config->strings[WlanApPassword] = passphrase;
        if (accepted) {
            EXPECT_NO_THROW(Handler().Initialize());
            EXPECT_NE(root.ReadFile("etc/hostapd.conf"), kHostapdTemplate);
        } else {
            EXPECT_THROW(Handler().Initialize(), CTarvException);
            EXPECT_EQ(root.ReadFile("etc/hostapd.conf"), kHostapdTemplate);
        }
        for (const auto& line : log.Lines()) {
            EXPECT_EQ(line.raw.find(passphrase), std::string::npos) << line.raw;
        }
    }
}

TEST_F(ApHandlerTest, InterfaceCreationFailuresThrow)
{
    struct SCase {
        const char* what;
        int iwExit;
        bool existsAfter;
        bool throws;
    };
    const SCase cases[] = {{"created", 0, true, false}, {"iw fails", 1, false, true}, {"never appears", 0, false, true}};
    const std::string iw = "/usr/sbin/iw dev wlan0 interface add uap0 type __ap";
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_CALL(*errorHandler, DoesIfExist("uap0")).WillOnce(Return(false)).WillRepeatedly(Return(c.existsAfter));
        runner->scripts[iw] = {{c.iwExit, ""}};
        runner->commands.clear();
        if (c.throws) {
            EXPECT_THROW(Handler().Initialize(), CTarvException);
        } else {
            EXPECT_NO_THROW(Handler().Initialize());
        }
        EXPECT_EQ(runner->commands, std::vector<std::string>{iw});
        ::testing::Mock::VerifyAndClearExpectations(errorHandler.get());
    }
}

TEST_F(ApHandlerTest, EnableStartsOnlyTheServicesThatAreNotRunning)
{
    struct SCase {
        const char* what;
        SCommandResult hostapd, dnsmasq, hostapdStart;
        std::vector<std::string> commands;
        bool ok;
    };
    const SCase cases[] = {
        {"both stopped", kStopped, kStopped, {0, ""},
         {"ifup uap0", "pidof hostapd", "/etc/init.d/hostapd2 start", "pidof dnsmasq", "/etc/init.d/dnsmasq start"},
         true},
        {"hostapd running", kRunning, kStopped, {0, ""},
         {"ifup uap0", "pidof hostapd", "pidof dnsmasq", "/etc/init.d/dnsmasq start"}, true},
        {"hostapd does not start", kStopped, kStopped, {1, ""},
         {"ifup uap0", "pidof hostapd", "/etc/init.d/hostapd2 start"}, false},
        // pidof succeeding without a pid is no running process.
        {"pidof without output", {0, ""}, kRunning, {0, ""},
         {"ifup uap0", "pidof hostapd", "/etc/init.d/hostapd2 start", "pidof dnsmasq"}, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        runner->scripts = {{"pidof hostapd", {c.hostapd}},
                           {"pidof dnsmasq", {c.dnsmasq}},
                           {"/etc/init.d/hostapd2 start", {c.hostapdStart}}};
        runner->commands.clear();
        bool ok = true;
        Handler().Enable(ok);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(runner->commands, c.commands);
    }
}

TEST_F(ApHandlerTest, DisableStopsBothServicesAndForceStopsSurvivors)
{
    struct SCase {
        const char* what;
        std::deque<SCommandResult> hostapdAfterStop;
        bool killWorks;
        bool killed;
        bool ok;
    };
    const SCase cases[] = {
        {"gone at the first poll", {kStopped}, true, false, true},
        {"gone at the third poll", {kRunning, kRunning, kStopped}, true, false, true},
        {"survives its stop script, killed", {kRunning}, true, true, true},
        {"survives even the kill", {kRunning}, false, true, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.what);
        log.Clear();
        // Running when asked before the stop, then as scripted.
        std::deque<SCommandResult> hostapd{kRunning};
        hostapd.insert(hostapd.end(), c.hostapdAfterStop.begin(), c.hostapdAfterStop.end());
        runner->scripts = {{"pidof hostapd", hostapd}, {"pidof dnsmasq", {kRunning, kStopped}}};
        runner->commands.clear();
        ON_CALL(*errorHandler, RecoverFromStopProcessError("hostapd")).WillByDefault(Return(c.killWorks));
        EXPECT_CALL(*errorHandler, RecoverFromStopProcessError("hostapd")).Times(c.killed ? 1 : 0);
        EXPECT_CALL(*errorHandler, RecoverFromStopProcessError("dnsmasq")).Times(0);
        const auto start = clock->Now();
        bool ok = true;
        Handler().Disable(ok);
        EXPECT_EQ(ok, c.ok);
        const std::vector<std::string> head(runner->commands.begin(), runner->commands.begin() + 5);
        EXPECT_EQ(head, (std::vector<std::string>{"ifdown uap0", "pidof dnsmasq", "/etc/init.d/dnsmasq stop",
                                                  "pidof hostapd", "/etc/init.d/hostapd2 stop"}));
        if (c.killed) {
            // The force stop comes once 2 s have passed on the clock, not before.
            EXPECT_GE(clock->Now() - start, CTarvApHandler::kServiceStopTimeout);
            EXPECT_TRUE(log.Contains(Log::warning,
                                     "hostapd and/or dnsmasq still running after timeout - force stopping"));
        }
        EXPECT_EQ(log.Contains(Log::error, "Hostapd is still running after disabling uap0"), !c.killWorks);
        ::testing::Mock::VerifyAndClearExpectations(errorHandler.get());
    }
}

TEST_F(ApHandlerTest, ServicesThatWillNotStopEndTheDisable)
{
    runner->scripts = {{"pidof dnsmasq", {kRunning}}, {"/etc/init.d/dnsmasq stop", {{1, ""}}}};
    bool ok = true;
    EXPECT_THROW(Handler().Disable(ok), CTarvException);
    EXPECT_TRUE(log.Contains(Log::error, "Could not stop Dnsmasq"));
}

TEST_F(ApHandlerTest, WithoutWlanHardwareInitializeDoesNothing)
{
    config->bools[HwHasWlan] = false;
    Handler().Initialize();
    EXPECT_EQ(root.ReadFile("etc/hostapd.conf"), kHostapdTemplate);
    EXPECT_TRUE(runner->commands.empty());
    EXPECT_TRUE(log.Contains(Log::warning, "AP not supported"));
}

} // namespace
