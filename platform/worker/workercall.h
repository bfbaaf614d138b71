#pragma once
// Handle of a call queued on a CWorker: cancel it, or ask whether it is done.

#include <atomic>
#include <memory>
#include <mutex>

class CWorkerCall {
public:
    // Stops further runs; a run already in progress completes.
    // Cancelling marks the call finished once no run is in progress.
    void Cancel();
    // True once the call will never run again: a one-shot call that ran,
    // a cancelled call, or a call dropped by the worker's Stop.
    bool IsFinished() const;
    bool IsCancelled() const;

private:
    friend class CWorker;

    // Called by the worker before a run: false (and the call is finished)
    // when the call was cancelled in the meantime.
    bool BeginRun();
    // Called by the worker after a run; returns whether the call runs again
    // (a periodic call that was not cancelled during the run).
    bool EndRun(bool periodic);

    std::mutex mMutex;                  // orders Cancel against BeginRun/EndRun
    bool mRunning = false;              // guarded by mMutex
    std::atomic<bool> mCancelled{false};
    std::atomic<bool> mFinished{false};
};
