// The process owner over a table of processes, pid files in a private root
// and a driven clock: which process a pid file may name, how a stop
// escalates, and the wait for the pid file of a process just started.
#include "src/components/system/processowner.h"

#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/fakehostsystem.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

// Processes end on SIGTERM unless told to ignore it; SIGKILL always ends them.
struct CStoppableHost : HandlerMocks::CFakeHostSystem {
    int SignalProcess(int pid, int signalNumber) override
    {
        const int result = CFakeHostSystem::SignalProcess(pid, signalNumber);
        if (result == 0 && (signalNumber == SIGKILL || (signalNumber == SIGTERM && !ignoresTerm))) {
            processes.erase(pid);
        }
        return result;
    }
    bool ignoresTerm = false;
};

class ProcessOwnerTest : public ::testing::Test {
protected:
    ProcessOwnerTest() { CRootDir::Set(root.Root()); }
    ~ProcessOwnerTest() override { CRootDir::Set("/"); }

    const SProcessIdentity kUdhcpc{"udhcpc", "/var/run/udhcpc.eth0.pid", "eth0"};
    TestSupport::CTempDir root;
    std::shared_ptr<CStoppableHost> host = std::make_shared<CStoppableHost>();
    std::shared_ptr<CManualClock> clock = std::make_shared<CManualClock>();
    CProcessOwner owner{host, clock};
    TestSupport::CLogCapture log;
};

TEST_F(ProcessOwnerTest, APidFileCountsOnlyWhenItNamesTheProgramOnItsInterface)
{
    host->AddProcess(100, "udhcpc", {"udhcpc", "-R", "-i", "eth0", "-p", "/var/run/udhcpc.eth0.pid"});
    host->AddProcess(101, "busybox", {"/bin/busybox", "udhcpc", "-ieth0"});
    host->AddProcess(102, "udhcpc", {"/sbin/udhcpc", "--interface=eth0"});
    host->AddProcess(103, "udhcpc", {"udhcpc", "-i", "wlan0"});
    host->AddProcess(104, "chargectl", {"chargectl", "-i", "eth0"});
    host->AddProcess(105, "udhcpc", {"udhcpc", "-i", "eth0.5"});
    host->AddProcess(106, "udhcpc", {}); // exited, not yet reaped
    const std::pair<std::string, int> cases[] = {
        {"100\n", 100}, {"101", 101}, {"102", 102}, {"103", -1}, {"104", -1}, {"105", -1}, {"106", -1},
        {"", -1},       {"-1\n", -1}, {"0", -1},    {"999", -1}, {"udhcpc\n", -1},
    };
    for (const auto& [content, pid] : cases) {
        root.WriteFile("var/run/udhcpc.eth0.pid", content);
        EXPECT_EQ(owner.Find(kUdhcpc), pid) << content;
        EXPECT_EQ(owner.Signal(kUdhcpc, std::atoi(content.c_str()), SIGUSR1), pid > 0) << content;
    }
    // Without an interface the name decides.
    EXPECT_TRUE(owner.IsProcessOf({"udhcpc", "", ""}, 103));
    EXPECT_EQ(host->signals, (std::vector<std::pair<int, int>>{{100, SIGUSR1}, {101, SIGUSR1}, {102, SIGUSR1}}));
}

TEST_F(ProcessOwnerTest, StopTerminatesWaitsThenKillsAndLeavesOthersAlone)
{
    for (const bool ignoresTerm : {false, true}) {
        host->signals.clear();
        host->ignoresTerm = ignoresTerm;
        host->AddProcess(200, "udhcpc", {"udhcpc", "-i", "eth0"});
        root.WriteFile("var/run/udhcpc.eth0.pid", "200");
        const auto start = clock->Now();
        EXPECT_TRUE(owner.Stop(kUdhcpc, 2s));
        using Sent = std::vector<std::pair<int, int>>;
        EXPECT_EQ(host->signals, (ignoresTerm ? Sent{{200, SIGTERM}, {200, SIGKILL}} : Sent{{200, SIGTERM}}));
        EXPECT_EQ(clock->Now() - start >= 2s, ignoresTerm); // the grace passed on the clock first
    }
    // A pid file naming another process: nothing of ours runs, nothing is signalled.
    host->signals.clear();
    host->AddProcess(201, "udhcpc", {"udhcpc", "-i", "wlan0"});
    root.WriteFile("var/run/udhcpc.eth0.pid", "201");
    EXPECT_TRUE(owner.Stop(kUdhcpc, 2s));
    EXPECT_TRUE(host->signals.empty());
}

TEST_F(ProcessOwnerTest, AProcessJustStartedIsWaitedForUntilItsPidFileAppears)
{
    host->AddProcess(300, "udhcpc", {"udhcpc", "-i", "eth0"});
    const auto started = clock->Now();
    // The pid file appears 1 s after the start, as the clock moves in the wait.
    const int listener = clock->AddListener([&] {
        if (clock->Now() - started >= 1s) {
            root.WriteFile("var/run/udhcpc.eth0.pid", "300");
        }
    });
    owner.NoteStarted(kUdhcpc);
    EXPECT_EQ(owner.Find(kUdhcpc), 300);
    clock->RemoveListener(listener);
    // Found once: a later absence is not waited for; one that never writes it is given up.
    std::filesystem::remove(root.Path() + "/var/run/udhcpc.eth0.pid");
    const auto now = clock->Now();
    EXPECT_EQ(owner.Find(kUdhcpc), -1);
    EXPECT_EQ(clock->Now(), now);
    owner.NoteStarted(kUdhcpc);
    EXPECT_EQ(owner.Find(kUdhcpc), -1);
    EXPECT_EQ(clock->Now() - now, IProcessOwner::kStartWindow);
    EXPECT_TRUE(log.Contains(Log::warning, "udhcpc started but wrote no pid file to /var/run/udhcpc.eth0.pid"));
}

} // namespace
