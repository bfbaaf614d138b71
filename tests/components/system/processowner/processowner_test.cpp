#include "src/components/system/processowner.h"

#include "platform/rootdir/rootdir.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

using HandlerMocks::CFakeHostSystem;
using TestSupport::CTempDir;
using namespace std::chrono_literals;

namespace {

// A host whose processes end on the signals listed for them; a pid may also
// be taken over by another program when its process ends.
struct CDyingHostSystem : CFakeHostSystem {
    int SignalProcess(int pid, int signalNumber) override
    {
        const int result = CFakeHostSystem::SignalProcess(pid, signalNumber);
        if (diesOn[pid].contains(signalNumber)) {
            processes.erase(pid);
            if (reusedBy.contains(pid)) {
                AddProcess(pid, reusedBy[pid], {reusedBy[pid]});
            }
        }
        return result;
    }
    std::map<int, std::set<int>> diesOn;
    std::map<int, std::string> reusedBy;
};

// A manual clock that calls a hook with the time slept so far on every sleep.
class CHookClock final : public IClock {
public:
    time_point Now() const override { return mNow; }
    void SleepFor(duration d) override
    {
        mNow += d;
        mSlept += d;
        if (onSleep) {
            onSleep(mSlept);
        }
    }
    bool IsRealTime() const override { return false; }
    int AddListener(Listener) override { return 0; }
    void RemoveListener(int) override {}

    duration Slept() const { return mSlept; }
    std::function<void(duration)> onSleep;

private:
    time_point mNow{std::chrono::hours(1000)};
    duration mSlept{};
};

class ProcessOwnerTest : public ::testing::Test {
protected:
    ProcessOwnerTest() { CRootDir::Set(mDir.Root()); }
    ~ProcessOwnerTest() override { CRootDir::Set("/"); }

    void WritePid(int pid) const { mDir.WriteFile("run/udhcpc.wlan0.pid", std::to_string(pid) + "\n"); }

    CTempDir mDir;
    std::shared_ptr<CDyingHostSystem> mHost = std::make_shared<CDyingHostSystem>();
    std::shared_ptr<CHookClock> mClock = std::make_shared<CHookClock>();
    CProcessOwner mOwner{mHost, mClock};
    const SProcessIdentity mClient{"udhcpc", "/run/udhcpc.wlan0.pid", "wlan0"};
};

TEST_F(ProcessOwnerTest, KnowsItsProcessByNameAndInterfaceOnly)
{
    struct SCase {
        const char* what;
        std::string comm;
        std::vector<std::string> arguments;
        bool ours;
    };
    const std::vector<SCase> cases = {
        {"separate option", "udhcpc", {"/sbin/udhcpc", "-i", "wlan0", "-n"}, true},
        {"joined option", "udhcpc", {"udhcpc", "-iwlan0"}, true},
        {"long option", "udhcpc", {"udhcpc", "-b", "--interface=wlan0"}, true},
        {"long option, separate", "udhcpc", {"udhcpc", "--interface", "wlan0"}, true},
        {"multi-call binary", "busybox", {"/bin/busybox", "udhcpc", "-i", "wlan0"}, true},
        {"renamed by its loader", "ld-linux", {"/sbin/udhcpc", "-i", "wlan0"}, true},
        {"another interface's", "udhcpc", {"udhcpc", "-i", "eth0"}, false},
        {"an interface that only starts the same", "udhcpc", {"udhcpc", "-iwlan01"}, false},
        {"interface elsewhere on the line", "udhcpc", {"udhcpc", "-p", "wlan0", "-i"}, false},
        {"another program on the interface", "dnsmasq", {"/usr/sbin/dnsmasq", "--interface=wlan0"}, false},
        {"another applet of the binary", "busybox", {"busybox", "ntpd", "-i", "wlan0"}, false},
        {"kernel thread", "udhcpc", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mHost->processes.clear();
        mHost->AddProcess(321, c.comm, c.arguments);
        EXPECT_EQ(mOwner.IsProcessOf(mClient, 321), c.ours);
        WritePid(321);
        EXPECT_EQ(mOwner.Find(mClient), c.ours ? 321 : -1);
    }

    // Without an interface the name alone decides; the kernel's name holds 15 characters.
    mHost->AddProcess(400, "hostapd", {"/usr/sbin/hostapd", "-B", "/etc/hostapd.conf"});
    mHost->AddProcess(401, "tarv_portal_ser", {"/usr/bin/python3", "server.py"});
    EXPECT_TRUE(mOwner.IsProcessOf({"hostapd", "/run/hostapd.pid", ""}, 400));
    EXPECT_TRUE(mOwner.IsProcessOf({"tarv_portal_server", "/run/portal.pid", ""}, 401));
    EXPECT_FALSE(mOwner.IsProcessOf({"hostapd", "/run/hostapd.pid", ""}, 401));

    // A pid file naming a dead process, a foreign one, or nothing usable.
    for (const std::string content : {"999\n", "401\n", "0\n", "-1\n", "garbage\n", ""}) {
        SCOPED_TRACE(content);
        mDir.WriteFile("run/hostapd.pid", content);
        EXPECT_EQ(mOwner.Find({"hostapd", "/run/hostapd.pid", ""}), -1);
    }
    EXPECT_EQ(mClock->Slept(), 0s);
}

TEST_F(ProcessOwnerTest, FindWaitsForThePidFileOfAProcessJustStarted)
{
    // A stale pid file naming another process does not end the wait.
    mHost->AddProcess(77, "sshd", {"/usr/sbin/sshd"});
    mHost->AddProcess(78, "udhcpc", {"udhcpc", "-i", "wlan0"});
    WritePid(77);
    mClock->onSleep = [this](IClock::duration slept) {
        if (slept >= 300ms) {
            WritePid(78);
        }
    };
    mOwner.NoteStarted(mClient);
    EXPECT_EQ(mOwner.Find(mClient), 78);
    EXPECT_GE(mClock->Slept(), 300ms);
    EXPECT_LT(mClock->Slept(), 300ms + CProcessOwner::kPollInterval * 2);

    // A start that writes no pid file is waited for once, for the window only.
    mClock->onSleep = nullptr;
    std::filesystem::remove(mDir.Path() + "/run/udhcpc.wlan0.pid");
    const auto before = mClock->Slept();
    mOwner.NoteStarted(mClient);
    EXPECT_EQ(mOwner.Find(mClient), -1);
    EXPECT_GE(mClock->Slept() - before, IProcessOwner::kStartWindow);
    EXPECT_LT(mClock->Slept() - before, IProcessOwner::kStartWindow + CProcessOwner::kPollInterval * 2);
    const auto after = mClock->Slept();
    EXPECT_EQ(mOwner.Find(mClient), -1);
    EXPECT_EQ(mClock->Slept(), after);
}

TEST_F(ProcessOwnerTest, StopEscalatesAndSignalsOnlyItsOwnProcess)
{
    struct SCase {
        const char* what;
        std::set<int> diesOn;
        std::string reusedBy;
        bool stopped;
        std::vector<int> signals;
    };
    const std::vector<SCase> cases = {
        {"ends on TERM", {SIGTERM}, "", true, {SIGTERM}},
        {"ignores TERM", {SIGKILL}, "", true, {SIGTERM, SIGKILL}},
        {"survives both", {}, "", false, {SIGTERM, SIGKILL}},
        // Its pid taken by another program right after it ended: never killed.
        {"pid reused after TERM", {SIGTERM}, "sshd", true, {SIGTERM}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mHost->processes.clear();
        mHost->signals.clear();
        mHost->AddProcess(500, "udhcpc", {"udhcpc", "-i", "wlan0"});
        mHost->diesOn[500] = c.diesOn;
        mHost->reusedBy.clear();
        if (!c.reusedBy.empty()) {
            mHost->reusedBy[500] = c.reusedBy;
        }
        WritePid(500);
        const auto before = mClock->Slept();
        EXPECT_EQ(mOwner.Stop(mClient, 1s), c.stopped);
        std::vector<int> sent;
        for (const auto& [pid, signal] : mHost->signals) {
            EXPECT_EQ(pid, 500);
            sent.push_back(signal);
        }
        EXPECT_EQ(sent, c.signals);
        EXPECT_LE(mClock->Slept() - before, 2s + CProcessOwner::kPollInterval * 2);
    }

    // Another interface's client, a dead pid, no pid file: nothing signalled, nothing left.
    mHost->signals.clear();
    mHost->AddProcess(600, "udhcpc", {"udhcpc", "-i", "eth0"});
    for (const std::string content : {"600\n", "601\n"}) {
        mDir.WriteFile("run/udhcpc.wlan0.pid", content);
        EXPECT_TRUE(mOwner.Stop(mClient, 1s));
    }
    std::filesystem::remove(mDir.Path() + "/run/udhcpc.wlan0.pid");
    EXPECT_TRUE(mOwner.Stop(mClient, 1s));
    EXPECT_FALSE(mOwner.Signal(mClient, 600, SIGHUP));
    EXPECT_TRUE(mHost->signals.empty());
    EXPECT_TRUE(mHost->processes.contains(600));
}

} // namespace
