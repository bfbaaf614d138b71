#include "src/components/lifecycle/tarvinterfacejobs.h"

#include "platform/log/log.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

struct CTarvInterfaceJobs::SQueue {
    struct SEntry {
        std::shared_ptr<CCancelToken> token;
        Job job;
    };

    explicit SQueue(CWorker::ErrorReporter errorReporter) : reporter(std::move(errorReporter)) {}

    // Queues the job and starts the thread when none runs.
    void Push(std::shared_ptr<CCancelToken> token, Job job);
    void Loop();
    void RunGuarded(const SEntry& entry);

    const CWorker::ErrorReporter reporter;
    std::mutex mutex;
    std::condition_variable idle;                                        // signalled when the thread ends
    std::shared_ptr<CCancelToken> current = std::make_shared<CCancelToken>(); // guarded by mutex; never null
    std::deque<SEntry> jobs;                                             // guarded by mutex
    bool running = false;                                                // guarded by mutex: the thread runs jobs
    bool closed = false;                                                 // guarded by mutex: no more jobs
    std::thread thread;                                                  // guarded by mutex
};

void CTarvInterfaceJobs::SQueue::Push(std::shared_ptr<CCancelToken> token, Job job)
{
    std::lock_guard lock(mutex);
    if (closed) {
        return;
    }
    jobs.push_back({std::move(token), std::move(job)});
    if (running) {
        return;
    }
    // A thread that ended has released the mutex for the last time: joining
    // it here cannot wait for this lock.
    if (thread.joinable()) {
        thread.join();
    }
    running = true;
    thread = std::thread([this] { Loop(); });
}

void CTarvInterfaceJobs::SQueue::Loop()
{
    pthread_setname_np(pthread_self(), "interfaces");
    std::unique_lock lock(mutex);
    while (!jobs.empty()) {
        const SEntry entry = std::move(jobs.front());
        jobs.pop_front();
        lock.unlock();
        RunGuarded(entry);
        lock.lock();
    }
    running = false;
    idle.notify_all();
}

void CTarvInterfaceJobs::SQueue::RunGuarded(const SEntry& entry)
{
    if (entry.token->IsCancelled()) {
        return; // superseded before it started
    }
    // One failing job must not end the process, nor the jobs after it.
    std::string what;
    try {
        CCancelToken::CScope scope(*entry.token);
        entry.job();
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown exception";
    }
    TLOG_ERROR("Worker interfaces: a call failed: {}", what);
    if (!reporter) {
        return;
    }
    try {
        reporter(what);
    } catch (const std::exception& e) {
        TLOG_ERROR("Worker interfaces: reporting the failure failed: {}", e.what());
    } catch (...) {
        TLOG_ERROR("Worker interfaces: reporting the failure failed");
    }
}

CTarvInterfaceJobs::CTarvInterfaceJobs(CWorker& timers, CWorker::ErrorReporter reporter)
    : mTimers(timers), mQueue(std::make_shared<SQueue>(std::move(reporter)))
{
}

CTarvInterfaceJobs::~CTarvInterfaceJobs()
{
    Close();
}

void CTarvInterfaceJobs::Close()
{
    std::thread thread;
    {
        std::lock_guard lock(mQueue->mutex);
        // A job waiting on a command ends at once instead of at its deadline.
        mQueue->current->Cancel();
        mQueue->closed = true;
        mQueue->jobs.clear();
        thread = std::move(mQueue->thread);
    }
    if (thread.joinable()) {
        thread.join();
    }
}

std::shared_ptr<CCancelToken> CTarvInterfaceJobs::Current()
{
    std::lock_guard lock(mQueue->mutex);
    return mQueue->current;
}

void CTarvInterfaceJobs::RunNew(Job job)
{
    auto token = std::make_shared<CCancelToken>();
    {
        std::lock_guard lock(mQueue->mutex);
        mQueue->current->Cancel();
        mQueue->current = token;
    }
    mQueue->Push(std::move(token), std::move(job));
}

void CTarvInterfaceJobs::RunInCurrent(Job job)
{
    mQueue->Push(Current(), std::move(job));
}

CWorker::CallHandle CTarvInterfaceJobs::RunAt(Job job, IClock::time_point due)
{
    return mTimers.AddCall(
        [queue = std::weak_ptr<SQueue>(mQueue), token = Current(), job = std::move(job)] {
            if (const auto alive = queue.lock()) {
                alive->Push(token, job);
            }
        },
        due);
}

void CTarvInterfaceJobs::RunHere(const Job& job)
{
    const std::shared_ptr<CCancelToken> token = Current();
    CCancelToken::CScope scope(*token);
    job();
}

void CTarvInterfaceJobs::CancelAll()
{
    std::lock_guard lock(mQueue->mutex);
    mQueue->current->Cancel();
}

void CTarvInterfaceJobs::Sync()
{
    std::unique_lock lock(mQueue->mutex);
    if (mQueue->thread.get_id() == std::this_thread::get_id()) {
        return; // a job would wait for itself
    }
    mQueue->idle.wait(lock, [this] { return !mQueue->running; });
}

bool CTarvInterfaceJobs::IsCancelled()
{
    const CCancelToken* token = CCancelToken::Current();
    return token != nullptr && token->IsCancelled();
}
