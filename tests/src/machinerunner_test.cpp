// SIGINT handling of the daemon: the lifecycle machine ends on an interrupt,
// and what remains afterwards (signal disposition, late requests) is safe.

#include "src/interruptwatcher.h"
#include "src/machinerunner.h"
#include "tests/statemachines/recordinghandler.h"
#include "statemachines/utils/statemachinesutility.h"

#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <thread>

using namespace std::chrono_literals;

namespace {

void (*SigintDisposition())(int)
{
    struct sigaction current {};
    sigaction(SIGINT, nullptr, &current);
    return current.sa_handler;
}

// The machine runs on a thread of its own until an interrupt ends it.
TEST(MachineRunner, SigintEndsTheMachineAndWhatRemainsIsSafe)
{
    auto handler = std::make_shared<CRecordingHandler>();
    handler->mComplete = true;
    auto machine = std::make_shared<CTarvHsm>(handler);
    CMachineRunner runner;
    std::thread running([&] { runner.Run(*machine); });
    // Once the machine has dispatched something, the interrupt handler is in place.
    ASSERT_EQ(PostAndWatch<Probe>(*machine).wait_for(10s), std::future_status::ready);
    EXPECT_NE(SigintDisposition(), SIG_DFL);
    kill(getpid(), SIGINT);
    running.join();
    EXPECT_EQ(machine->GetCurrentState()->GetName(), "_Final_Statemachine");
    // A second interrupt during the rest of the shutdown ends the process.
    EXPECT_EQ(SigintDisposition(), SIG_DFL);

    // A request reaching the ended machine is refused at once, not left waiting.
    auto answered = PostAndWatch<TarvHsm::ExtEnableReq>(*machine);
    ASSERT_EQ(answered.wait_for(0s), std::future_status::ready);
    EXPECT_FALSE(answered.get());
    EXPECT_EQ(IDisableCall(*machine).result(), ipc::MResult::Illegal);
}

TEST(InterruptWatcher, AFloodOfSignalsNeverBlocksTheSignalledThread)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> calls{0};
    CInterruptWatcher watcher;
    watcher.Start([&](int) {
        ++calls;
        released.wait();
    });
    // The watcher is held in its first callback: the pipe fills (64 KiB) and
    // later signals must be dropped, not wait in the handler for room.
    for (int i = 0; i < 70000; ++i) {
        raise(SIGINT);
    }
    release.set_value();
    watcher.Stop();
    EXPECT_GE(calls.load(), 1);
    EXPECT_EQ(SigintDisposition(), SIG_DFL);
}

// A handler held between reading the pipe's descriptor and writing to it.
std::atomic<bool> gWriteEntered{false};
std::atomic<bool> gWriteReleased{false};
std::atomic<ssize_t> gWriteResult{0};

ssize_t HeldWrite(int fd, const void* buffer, std::size_t count)
{
    gWriteEntered = true;
    while (!gWriteReleased) {
        std::this_thread::yield();
    }
    gWriteResult = write(fd, buffer, count);
    return gWriteResult;
}

TEST(InterruptWatcher, StopWaitsForAHandlerThatIsStillWriting)
{
    gWriteEntered = false; // a repeated run starts over
    gWriteReleased = false;
    CInterruptWatcher watcher(&HeldWrite);
    watcher.Start([](int) {});
    std::thread signalled([] { raise(SIGINT); }); // the handler runs on this thread
    while (!gWriteEntered) {
        std::this_thread::yield();
    }
    auto stopped = std::async(std::launch::async, [&] { watcher.Stop(); });
    // Stop must wait for the handler; closing the pipe under it would send
    // the byte to a closed descriptor, or to a file that reused its number.
    const bool stoppedUnderTheHandler = stopped.wait_for(200ms) == std::future_status::ready;
    gWriteReleased = true;
    signalled.join();
    stopped.wait();
    EXPECT_FALSE(stoppedUnderTheHandler);
    EXPECT_EQ(gWriteResult.load(), 1);
}

} // namespace
