#include "src/components/system/processowner.h"

#include "platform/worker/manualclock.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <functional>
#include <set>
#include <tuple>

using namespace std::chrono_literals;

namespace {

// Processes end on the signals listed for them (and their pid may go to
// another program then); onRead runs on every read of a process's files.
struct CHost : HandlerMocks::CFakeHostSystem {
    std::string ProcessFile(int pid, const std::string& entry) override
    {
        if (onRead) {
            onRead();
        }
        return CFakeHostSystem::ProcessFile(pid, entry);
    }
    int SignalProcess(int pid, int signalNumber) override
    {
        const int result = CFakeHostSystem::SignalProcess(pid, signalNumber);
        if (diesOn.contains(signalNumber)) {
            processes.erase(pid);
            if (!reusedBy.empty()) {
                AddProcess(pid, reusedBy, {reusedBy});
            }
        }
        return result;
    }
    std::set<int> diesOn;
    std::string reusedBy;
    std::function<void()> onRead;
};

class ProcessOwnerTest : public ::testing::Test {
protected:
    void WritePid(const std::string& pid) const { dir.WriteFile("run/udhcpc.wlan0.pid", pid + "\n"); }

    TestSupport::CTempRoot dir;
    std::shared_ptr<CHost> host = std::make_shared<CHost>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    CProcessOwner owner{host, clock};
    const SProcessIdentity client{"udhcpc", "/run/udhcpc.wlan0.pid", "wlan0"};
};

TEST_F(ProcessOwnerTest, KnowsItsProcessByNameAndInterfaceOnly)
{
    const std::tuple<std::string, std::vector<std::string>, bool> cases[] = { // comm, arguments, ours
        {"udhcpc", {"/sbin/udhcpc", "-i", "wlan0", "-n"}, true},
        {"udhcpc", {"udhcpc", "-iwlan0"}, true},
        {"udhcpc", {"udhcpc", "-b", "--interface=wlan0"}, true},
        {"busybox", {"/bin/busybox", "udhcpc", "--interface", "wlan0"}, true}, // a multi-call binary's applet
        {"udhcpc", {"udhcpc", "-i", "eth0"}, false},                           // another interface's
        {"udhcpc", {"udhcpc", "-iwlan01"}, false},
        {"udhcpc", {"udhcpc", "-p", "wlan0", "-i"}, false},
        {"dnsmasq", {"/usr/sbin/dnsmasq", "--interface=wlan0"}, false},
        {"busybox", {"busybox", "ntpd", "-i", "wlan0"}, false},
        {"udhcpc", {}, false}, // a kernel thread
    };
    for (const auto& [comm, arguments, ours] : cases) {
        SCOPED_TRACE(comm + " " + testing::PrintToString(arguments));
        host->processes.clear();
        host->AddProcess(321, comm, arguments);
        WritePid("321");
        EXPECT_EQ(owner.Find(client), ours ? 321 : -1);
    }
    // Without an interface the name decides; the kernel keeps 15 characters of it.
    host->AddProcess(401, "tarv_portal_ser", {"/usr/bin/python3", "server.py"});
    EXPECT_TRUE(owner.IsProcessOf({"tarv_portal_server", "/run/portal.pid", ""}, 401));
    // A pid file naming a dead or a foreign process, or nothing usable.
    for (const std::string pid : {"999", "401", "0", "-1", "garbage", ""}) {
        WritePid(pid);
        EXPECT_EQ(owner.Find(client), -1) << pid;
    }
}

TEST_F(ProcessOwnerTest, FindWaitsForThePidFileOfAProcessJustStarted)
{
    // The pid file of an earlier run names another process until the new one writes its own.
    host->AddProcess(77, "sshd", {"/usr/sbin/sshd"});
    host->AddProcess(78, "udhcpc", {"udhcpc", "-i", "wlan0"});
    WritePid("77");
    const auto start = clock->Now();
    host->onRead = [&] {
        if (clock->Now() - start >= 300ms) {
            WritePid("78");
        }
    };
    owner.NoteStarted(client);
    EXPECT_EQ(owner.Find(client), 78);
    EXPECT_LE(clock->Now() - start, 300ms + CProcessOwner::kPollInterval);

    // A start that writes no pid file is waited for once, for the window only.
    host->onRead = nullptr;
    WritePid("77");
    const auto second = clock->Now();
    owner.NoteStarted(client);
    EXPECT_EQ(owner.Find(client), -1);
    EXPECT_EQ(clock->Now() - second, IProcessOwner::kStartWindow);
    EXPECT_EQ(owner.Find(client), -1);
    EXPECT_EQ(clock->Now() - second, IProcessOwner::kStartWindow);
}

TEST_F(ProcessOwnerTest, StopEscalatesAndSignalsOnlyItsOwnProcess)
{
    // The signals the process dies on, the pid's next program once it ended,
    // whether Stop succeeds and the signals sent.
    const std::tuple<std::set<int>, std::string, bool, std::vector<std::pair<int, int>>> cases[] = {
        {{SIGTERM}, "", true, {{500, SIGTERM}}},
        {{SIGKILL}, "", true, {{500, SIGTERM}, {500, SIGKILL}}},
        {{}, "", false, {{500, SIGTERM}, {500, SIGKILL}}},
        {{SIGTERM}, "sshd", true, {{500, SIGTERM}}}, // never a signal to the pid's new program
    };
    for (const auto& [diesOn, reusedBy, stopped, signals] : cases) {
        SCOPED_TRACE(testing::PrintToString(diesOn) + " " + reusedBy);
        *host = CHost{};
        host->AddProcess(500, "udhcpc", {"udhcpc", "-i", "wlan0"});
        host->diesOn = diesOn;
        host->reusedBy = reusedBy;
        WritePid("500");
        EXPECT_EQ(owner.Stop(client, 1s), stopped);
        EXPECT_EQ(host->signals, signals);
    }
    // Another interface's client, a dead pid: nothing signalled, nothing of ours left.
    host->signals.clear();
    host->AddProcess(600, "udhcpc", {"udhcpc", "-i", "eth0"});
    for (const std::string pid : {"600", "601"}) {
        WritePid(pid);
        EXPECT_TRUE(owner.Stop(client, 1s));
    }
    EXPECT_FALSE(owner.Signal(client, 600, SIGHUP));
    EXPECT_TRUE(host->signals.empty());
}

// What a killed daemon left: ifup lte0 waiting for its lease, with the DHCP
// client it runs through a shell, and an ifdown of eth0 by its logical name.
TEST_F(ProcessOwnerTest, LeftoverCommandsOfOurInterfacesEndWithWhatTheyStarted)
{
    host->AddProcess(700, "ifup", {"/sbin/ifup", "-v", "lte0"});
    host->AddProcess(701, "sh", {"/bin/sh", "-c", "udhcpc -n -i lte0"});
    host->AddProcess(702, "udhcpc", {"udhcpc", "-n", "-i", "lte0"});
    host->parents = {{701, 700}, {702, 701}, {721, 720}};
    host->AddProcess(710, "ifdown", {"ifdown", "-f", "eth0=eth0-static"});
    // Left alone: another interface's (and what it started), ours as an
    // option's value or a prefix, another program naming ours.
    host->AddProcess(720, "ifup", {"ifup", "usb0"});
    host->AddProcess(721, "udhcpc", {"udhcpc", "-i", "usb0"});
    host->AddProcess(722, "ifup", {"ifup", "-i", "lte0", "usb0"});
    host->AddProcess(723, "ifup", {"ifup", "lte01"});
    host->AddProcess(724, "vim", {"vim", "ifup", "lte0"});
    // Each pid goes to another program once it ended: never signalled again.
    host->diesOn = {SIGTERM};
    host->reusedBy = "sshd";
    const std::vector<SProcessIdentity> identities{{"ifup", "", "lte0", true}, {"ifdown", "", "eth0", true}};
    TestSupport::CLogCapture log(Log::warning);
    EXPECT_EQ(owner.StopLeftovers(identities, 1s), 4U);
    std::sort(host->signals.begin(), host->signals.end());
    EXPECT_EQ(host->signals,
              (std::vector<std::pair<int, int>>{{700, SIGTERM}, {701, SIGTERM}, {702, SIGTERM}, {710, SIGTERM}}));
    EXPECT_TRUE(log.Contains("Stopped udhcpc (pid 702) of lte0, left running by an earlier run"));

    // One that ignores SIGTERM gets SIGKILL; one that survives both is not counted.
    for (const bool killable : {true, false}) {
        *host = CHost{};
        host->AddProcess(800, "ifup", {"ifup", "lte0"});
        host->diesOn = killable ? std::set<int>{SIGKILL} : std::set<int>{};
        EXPECT_EQ(owner.StopLeftovers(identities, 1s), killable ? 1U : 0U);
        EXPECT_EQ(host->signals, (std::vector<std::pair<int, int>>{{800, SIGTERM}, {800, SIGKILL}}));
    }
}

} // namespace
