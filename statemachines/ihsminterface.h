#pragma once
// What the rest of the daemon sees of a state machine.

#include "statemachines/ihsmevent.h"

#include <memory>

class IHsmInterface {
public:
    virtual ~IHsmInterface() = default;

    // Queues the event and wakes the run loop. Any thread, never blocks on the
    // machine's work; events posted before Run wait in the queue.
    virtual void PostEvent(std::shared_ptr<IHsmEvent> event) = 0;
    // Dispatches events on the calling thread until Stop.
    virtual void Run() = 0;
    // Makes Run return after the event being dispatched; queued events stay queued.
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
};
