#include "src/machinerunner.h"

#include "platform/log/log.h"

#include <csignal>

void CMachineRunner::Run(CTarvHsm& machine)
{
    TLOG_INFO("Starting state machine");
    // The signal handler only wakes the watcher thread; the event is posted
    // from there, outside signal context.
    mInterrupts.Start([&machine](int signalNumber) {
        if (signalNumber == SIGINT) {
            machine.PostEvent(std::make_shared<TarvHsm::IntTerminate>());
        }
    });
    try {
        machine.Run();
    } catch (...) {
        mInterrupts.Stop();
        machine.Close();
        throw;
    }
    mInterrupts.Stop();
    machine.Close();
    TLOG_INFO("State machine stopped");
}
