#pragma once
// Handle of a call queued on a CWorker: cancel it, or ask whether it is done.

#include <atomic>
#include <memory>

class CWorkerCall {
public:
    // Stops further runs; a run already in progress completes.
    // Cancelling marks the call finished once no run is in progress.
    void Cancel();
    // True once the call will never run again: a one-shot call that ran,
    // a cancelled call, or a call dropped by the worker's Stop.
    bool IsFinished() const;
    bool IsCancelled() const;

    // Used by CWorker only.
    void MarkFinished();

private:
    std::atomic<bool> mCancelled{false};
    std::atomic<bool> mFinished{false};
};
