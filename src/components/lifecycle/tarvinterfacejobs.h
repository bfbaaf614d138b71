#pragma once
// The interface handlers' long work (initialising, enabling, disabling, the
// access point's timer) as jobs run one at a time off the lifecycle machine's
// thread. Jobs belong to a generation: starting a new generation cancels the
// jobs of the one before (the command one of them is running is stopped with
// its process group, and no further command of it starts), so that a new
// lifecycle step never waits for the old one's work.
//
// The jobs' thread exists only while there is work: it starts with the first
// job queued and ends once the queue is empty, so an idle daemon does not keep
// a thread for work that comes at start, enable and disable only. Timed jobs
// wait on the timers' worker and join the queue when due.

#include "platform/worker/canceltoken.h"
#include "platform/worker/worker.h"

#include <functional>
#include <memory>

class CTarvInterfaceJobs {
public:
    using Job = std::function<void()>;

    // timers runs the timed jobs' waits and must outlive this object's use of
    // it (a wait due after destruction does nothing); reporter hears of an
    // exception a job let escape.
    CTarvInterfaceJobs(CWorker& timers, CWorker::ErrorReporter reporter);
    // Cancels every job, drops the queued ones and joins the thread.
    ~CTarvInterfaceJobs();
    // Cancels the job in progress, drops the queued ones and waits for the
    // thread; later jobs are ignored. The job still running may use this
    // object until Close returns, so its owner closes it before destroying it.
    void Close();
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
    // Returns once the jobs queued before have run (the thread has ended);
    // at once on the jobs' own thread.
    void Sync();

    // Whether the calling thread runs a job that was cancelled.
    static bool IsCancelled();

private:
    // Shared with the thread and with the timed waits, which hold it weakly.
    struct SQueue;

    std::shared_ptr<CCancelToken> Current();

    CWorker& mTimers;
    const std::shared_ptr<SQueue> mQueue;
};
