#pragma once
// Runs the lifecycle machine on the calling thread until SIGINT has led it to
// its final state, then ends it for good.

#include "src/interruptwatcher.h"
#include "statemachines/tarvhsm.h"

class CMachineRunner {
public:
    CMachineRunner() = default;
    CMachineRunner(const CMachineRunner&) = delete;
    CMachineRunner& operator=(const CMachineRunner&) = delete;

    // SIGINT posts IntTerminate while the machine runs. Once it has stopped,
    // SIGINT has its default action again (a second interrupt ends a stuck
    // shutdown) and the machine is closed: requests that reach it later are
    // answered at once instead of blocking the threads the IPC host joins.
    void Run(CTarvHsm& machine);

private:
    CInterruptWatcher mInterrupts;
};
