#pragma once
// The interface handlers' long work (initialising, enabling, disabling, the
// access point's timer) as jobs on a worker of its own, one at a time, off
// the lifecycle machine's thread. Jobs belong to a generation: starting a new
// generation cancels the jobs of the one before (the command one of them is
// running is stopped with its process group, and no further command of it
// starts), so that a new lifecycle step never waits for the old one's work.

#include "platform/worker/canceltoken.h"
#include "platform/worker/worker.h"

#include <functional>
#include <memory>
#include <mutex>

class CTarvInterfaceJobs {
public:
    using Job = std::function<void()>;

    // Starts the worker; reporter hears of an exception a job let escape.
    CTarvInterfaceJobs(std::shared_ptr<IClock> clock, CWorker::ErrorReporter reporter);
    // Cancels every job and stops the worker.
    ~CTarvInterfaceJobs();
    CTarvInterfaceJobs(const CTarvInterfaceJobs&) = delete;
    CTarvInterfaceJobs& operator=(const CTarvInterfaceJobs&) = delete;

    // Cancels the jobs queued or running and queues job in a new generation.
    void RunNew(Job job);
    // Queues job in the current generation, after the jobs queued before.
    void RunInCurrent(Job job);
    // Queues job for the time point, in the current generation: a new
    // generation (or CancelAll) before then leaves it undone.
    CWorker::CallHandle RunAt(Job job, IClock::time_point due);
    // Runs job on the calling thread as part of the current generation, so
    // that a new step cancels it too (a change request on a service thread).
    void RunHere(const Job& job);
    // Cancels the jobs queued or running; later jobs of this generation do nothing.
    void CancelAll();
    // Returns once the jobs queued before have run.
    void Sync();

    // Whether the calling thread runs a job that was cancelled.
    static bool IsCancelled();

private:
    std::shared_ptr<CCancelToken> Current();
    static void RunUnder(const std::shared_ptr<CCancelToken>& token, const Job& job);

    std::mutex mMutex;
    std::shared_ptr<CCancelToken> mToken; // guarded by mMutex; never null
    // Last member: its thread stops (in the destructor) before the rest goes.
    CWorker mWorker;
};
