#pragma once
// Alive supervision mixin: the action handler is itself a worker thread, and
// while the daemon is enabled that worker calls the alive callback every
// four seconds. The most derived class constructs the CWorker base (name and
// clock) and starts and stops the worker.

#include "statemachines/hsmactionhandlerbase.h"
#include "platform/log/log.h"
#include "platform/worker/worker.h"

#include <chrono>
#include <functional>

template <typename Base>
class CHsmAlive : public virtual Base, public virtual CWorker {
public:
    static constexpr std::chrono::seconds kAlivePeriod{4};

    // Schedules the alive call on this handler's worker: first run now, then
    // every kAlivePeriod. A call scheduled before is cancelled first, so
    // there is never more than one.
    void IntStartAliveTimer() override
    {
        TLOG_FUNCTION();
        if (mAliveCall) {
            mAliveCall->Cancel();
        }
        mAliveCall = AddCall(
            [this] {
                if (!AliveCondition()) {
                    return;
                }
                if (mAliveCallback) {
                    mAliveCallback();
                } else {
                    // An exception here would end the process from the worker thread.
                    TLOG_ERROR("Alive callback not set");
                }
            },
            Clock().Now(), kAlivePeriod);
    }

    // Cancels the alive call and waits until the worker has finished any run
    // of it, so no alive notification follows the return. Only this worker:
    // a derived Sync() may also wait for long work elsewhere, which a state's
    // exit must never wait for.
    void IntStopAliveTimer() override
    {
        TLOG_FUNCTION();
        CancelAliveTimer();
        CWorker::Sync();
    }

    // Runs on the worker at every alive tick. Installed by the wiring before
    // the machine runs and not changed afterwards. A tick without it logs an
    // error and sends nothing.
    std::function<void()> mAliveCallback;

protected:
    // Whether a tick reports alive; handlers may check their own health here.
    virtual bool AliveCondition() { return true; }

    // Cancels without waiting for the worker (IntStopWorkerThread syncs once
    // after cancelling all of the handler's calls).
    void CancelAliveTimer()
    {
        if (mAliveCall) {
            mAliveCall->Cancel();
            mAliveCall.reset();
        }
    }

private:
    // Touched only on the machine's thread.
    CallHandle mAliveCall;
};
