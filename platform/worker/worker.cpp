#include "platform/worker/worker.h"

#include "platform/log/log.h"

#include <pthread.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

namespace {

// Result of a call another thread waits for. Completion is signalled by the
// destruction of the queued function (see SCompletionGuard), whether it ran
// or was dropped.
struct SCompletion {
    void SetResult(std::exception_ptr e)
    {
        std::lock_guard lock(mutex);
        ran = true;
        error = std::move(e);
    }
    void Finish()
    {
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_all();
    }
    std::exception_ptr Wait(bool* hasRun = nullptr)
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return done; });
        if (hasRun) {
            *hasRun = ran;
        }
        return std::move(error);
    }

    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;          // guarded by mutex
    bool ran = false;           // guarded by mutex
    std::exception_ptr error;   // guarded by mutex
};

struct SCompletionGuard {
    explicit SCompletionGuard(std::shared_ptr<SCompletion> c)
        : completion(std::move(c))
    {
    }
    SCompletionGuard(const SCompletionGuard&) = delete;
    SCompletionGuard& operator=(const SCompletionGuard&) = delete;
    ~SCompletionGuard() { completion->Finish(); }

    std::shared_ptr<SCompletion> completion;
};

} // namespace

struct CWorker::SState {
    struct SEntry {
        IClock::time_point due;
        std::uint64_t seq = 0;
        IClock::duration period{};
        Fn fn;
        CallHandle handle;
    };
    // Heap order: the entry due first (and among equal times the one queued
    // first) is at the front.
    struct SLater {
        bool operator()(const SEntry& a, const SEntry& b) const
        {
            return a.due != b.due ? a.due > b.due : a.seq > b.seq;
        }
    };

    SState(std::string threadName, std::shared_ptr<IClock> clk)
        : name(std::move(threadName))
        , clock(std::move(clk))
    {
    }

    // Queues an entry; the caller holds mutex.
    void PushLocked(SEntry entry)
    {
        entry.seq = nextSeq++;
        queue.push_back(std::move(entry));
        std::push_heap(queue.begin(), queue.end(), SLater{});
        cv.notify_all();
    }

    // Takes every pending entry out of the queue and marks it finished. The
    // caller destroys the result after releasing mutex, since destroying a
    // function may release objects that call back into the worker.
    std::vector<SEntry> DropPendingLocked()
    {
        std::vector<SEntry> dropped;
        dropped.swap(queue);
        liveAfterPurge = 0;
        for (auto& entry : dropped) {
            entry.handle->Cancel();
        }
        cv.notify_all();
        return dropped;
    }

    // Takes the cancelled entries out of the queue once they make up half of
    // it. A call cancelled and queued again (a timer restarted on each event)
    // would otherwise stay until its due time, which may be an hour away, and
    // the queue would grow with the rate of events. The caller holds mutex and
    // destroys the result after releasing it, as for DropPendingLocked.
    std::vector<SEntry> TakeCancelledLocked()
    {
        std::vector<SEntry> cancelled;
        if (queue.size() < kPurgeMinimum || queue.size() < 2 * liveAfterPurge) {
            return cancelled;
        }
        const auto firstCancelled = std::partition(queue.begin(), queue.end(),
                                                   [](const SEntry& entry) { return !entry.handle->IsCancelled(); });
        cancelled.assign(std::make_move_iterator(firstCancelled), std::make_move_iterator(queue.end()));
        queue.erase(firstCancelled, queue.end());
        std::make_heap(queue.begin(), queue.end(), SLater{});
        liveAfterPurge = queue.size();
        return cancelled;
    }

    bool IsThisThreadLocked() const { return threadId == std::this_thread::get_id(); }

    // Below this many queued entries, cancelled ones wait for their due time.
    static constexpr std::size_t kPurgeMinimum = 64;

    const std::string name;
    const std::shared_ptr<IClock> clock;

    std::mutex mutex;
    std::condition_variable cv;       // queue changed, stop requested, or clock moved
    std::vector<SEntry> queue;        // guarded by mutex; heap ordered by SLater
    std::uint64_t nextSeq = 0;        // guarded by mutex
    std::size_t liveAfterPurge = 0;   // guarded by mutex; queue size after the last purge
    bool running = false;             // guarded by mutex; from Start until the loop ends
    bool stopRequested = false;       // guarded by mutex; from Stop until the loop ends
    std::thread::id threadId;         // guarded by mutex; set while the loop runs
    ErrorReporter reporter;           // guarded by mutex
};

CWorker::CWorker(std::string name, std::shared_ptr<IClock> clock)
    : mName(std::move(name))
    , mClock(clock ? std::move(clock) : IClock::Steady())
    , mState(std::make_shared<SState>(mName, mClock))
{
    // A manual clock moves without the worker noticing: its listener wakes
    // the loop. Taking the mutex before notifying closes the window between
    // the loop reading Now() and starting to wait.
    std::weak_ptr<SState> weak = mState;
    mClockListener = mClock->AddListener([weak] {
        if (auto state = weak.lock()) {
            std::lock_guard lock(state->mutex);
            state->cv.notify_all();
        }
    });
}

CWorker::~CWorker()
{
    Stop();
    mClock->RemoveListener(mClockListener);
    std::lock_guard control(mControlMutex);
    if (mThread.joinable()) {
        if (mThread.get_id() == std::this_thread::get_id()) {
            // Destroyed by a call on its own thread: the loop keeps its state
            // alive, sees the stop request and ends by itself.
            mThread.detach();
        } else {
            mThread.join();
        }
    }
}

void CWorker::Start()
{
    {
        // On its own thread the worker runs by definition; returning before
        // taking mControlMutex also avoids a deadlock with a Stop that holds
        // it while joining this thread.
        std::lock_guard lock(mState->mutex);
        if (mState->IsThisThreadLocked()) {
            return;
        }
    }
    std::lock_guard control(mControlMutex);
    {
        std::lock_guard lock(mState->mutex);
        if (mState->running && !mState->stopRequested) {
            return;
        }
    }
    // A thread that stopped itself may still be ending.
    if (mThread.joinable()) {
        mThread.join();
    }
    {
        std::lock_guard lock(mState->mutex);
        mState->running = true;
        mState->stopRequested = false;
    }
    mThread = std::thread(&CWorker::Loop, mState);
}

void CWorker::Stop()
{
    std::vector<SState::SEntry> dropped;
    {
        std::lock_guard lock(mState->mutex);
        if (mState->IsThisThreadLocked()) {
            // The loop ends after the running call returns.
            mState->stopRequested = true;
            dropped = mState->DropPendingLocked();
            return;
        }
    }
    std::lock_guard control(mControlMutex);
    {
        std::lock_guard lock(mState->mutex);
        if (mState->running) {
            mState->stopRequested = true;
        }
        dropped = mState->DropPendingLocked();
    }
    dropped.clear();
    if (mThread.joinable()) {
        mThread.join();
    }
}

void CWorker::Sync()
{
    auto completion = std::make_shared<SCompletion>();
    {
        std::lock_guard lock(mState->mutex);
        if (!mState->running || mState->stopRequested || mState->IsThisThreadLocked()) {
            return;
        }
        // A marker due now runs after everything due now or earlier that was
        // queued before it.
        mState->PushLocked({mState->clock->Now(), 0, IClock::duration::zero(),
                            [guard = std::make_shared<SCompletionGuard>(completion)] {},
                            std::make_shared<CWorkerCall>()});
    }
    // Also ends when a Stop drops the marker: nothing more will run then.
    completion->Wait();
}

bool CWorker::IsRunning() const
{
    std::lock_guard lock(mState->mutex);
    return mState->running && !mState->stopRequested;
}

bool CWorker::IsThisThread() const
{
    std::lock_guard lock(mState->mutex);
    return mState->IsThisThreadLocked();
}

void CWorker::EmergencyKill()
{
    std::vector<SState::SEntry> dropped;
    std::lock_guard lock(mState->mutex);
    if (mState->running) {
        mState->stopRequested = true;
    }
    dropped = mState->DropPendingLocked();
    // dropped is destroyed after the lock is released (reverse declaration order)
}

CWorker::CallHandle CWorker::NonBlockingCall(Fn fn)
{
    return AddCall(std::move(fn), mClock->Now());
}

void CWorker::BlockingCall(Fn fn)
{
    auto completion = std::make_shared<SCompletion>();
    {
        std::unique_lock lock(mState->mutex);
        const bool inlineCall =
            mState->IsThisThreadLocked() || (!mState->running && !mState->stopRequested);
        if (inlineCall) {
            lock.unlock();
            fn();
            return;
        }
        if (mState->stopRequested) {
            lock.unlock();
            TLOG_WARN("Worker {}: call dropped by a stop before it ran", mName);
            return;
        }
        mState->PushLocked({mState->clock->Now(), 0, IClock::duration::zero(),
                            [guard = std::make_shared<SCompletionGuard>(completion), fn = std::move(fn)] {
                                std::exception_ptr error;
                                try {
                                    fn();
                                } catch (...) {
                                    error = std::current_exception();
                                }
                                guard->completion->SetResult(std::move(error));
                            },
                            std::make_shared<CWorkerCall>()});
    }
    // Returns once the queued function is destroyed (after its run, or when
    // a Stop dropped it), so nothing of fn outlives this call.
    bool ran = false;
    std::exception_ptr error = completion->Wait(&ran);
    if (!ran) {
        TLOG_WARN("Worker {}: call dropped by a stop before it ran", mName);
        return;
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

void CWorker::SetErrorReporter(ErrorReporter reporter)
{
    std::lock_guard lock(mState->mutex);
    mState->reporter = std::move(reporter);
}

void CWorker::RunGuarded(SState& state, const Fn& fn)
{
    // One failing call must not take the thread, and with it every other
    // timer of the owner (or the whole process), down.
    std::string what;
    try {
        fn();
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown exception";
    }
    TLOG_ERROR("Worker {}: a call failed: {}", state.name, what);
    ErrorReporter reporter;
    {
        std::lock_guard lock(state.mutex);
        reporter = state.reporter;
    }
    if (!reporter) {
        return;
    }
    try {
        reporter(what);
    } catch (const std::exception& e) {
        TLOG_ERROR("Worker {}: reporting the failure failed: {}", state.name, e.what());
    } catch (...) {
        TLOG_ERROR("Worker {}: reporting the failure failed", state.name);
    }
}

CWorker::CallHandle CWorker::AddCall(Fn fn, IClock::time_point due, IClock::duration period)
{
    auto handle = std::make_shared<CWorkerCall>();
    std::vector<SState::SEntry> cancelled;    // destroyed after the lock is released
    std::unique_lock lock(mState->mutex);
    if (mState->stopRequested) {
        lock.unlock();
        handle->Cancel();
        return handle;    // fn is destroyed without the lock
    }
    cancelled = mState->TakeCancelledLocked();
    mState->PushLocked({due, 0, period < IClock::duration::zero() ? IClock::duration::zero() : period,
                        std::move(fn), handle});
    return handle;
}

void CWorker::Loop(const std::shared_ptr<SState>& stateRef)
{
    // Own reference: the worker object may be destroyed while this runs.
    const std::shared_ptr<SState> state = stateRef;
    pthread_setname_np(pthread_self(), state->name.substr(0, 15).c_str());
    IClock& clock = *state->clock;
    {
        std::lock_guard lock(state->mutex);
        state->threadId = std::this_thread::get_id();
    }

    for (;;) {
        SState::SEntry entry;
        {
            std::unique_lock lock(state->mutex);
            for (;;) {
                if (state->stopRequested) {
                    break;
                }
                if (state->queue.empty()) {
                    state->cv.wait(lock);
                    continue;
                }
                const auto now = clock.Now();
                const auto due = state->queue.front().due;
                if (due > now) {
                    if (clock.IsRealTime()) {
                        state->cv.wait_for(lock, due - now);
                    } else {
                        state->cv.wait(lock);    // woken by the clock's listener
                    }
                    continue;
                }
                std::pop_heap(state->queue.begin(), state->queue.end(), SState::SLater{});
                entry = std::move(state->queue.back());
                state->queue.pop_back();
                break;
            }
            if (!entry.handle) {
                break;    // stop requested
            }
        }

        if (!entry.handle->BeginRun()) {
            continue;    // cancelled while queued
        }
        RunGuarded(*state, entry.fn);
        const bool periodic = entry.period != IClock::duration::zero();
        if (!entry.handle->EndRun(periodic)) {
            continue;
        }
        auto next = entry.due + entry.period;
        const auto now = clock.Now();
        if (next < now) {
            next = now + entry.period;
        }
        std::lock_guard lock(state->mutex);
        if (state->stopRequested) {
            entry.handle->Cancel();
        } else {
            entry.due = next;
            state->PushLocked(std::move(entry));
        }
    }

    std::vector<SState::SEntry> dropped;
    {
        std::lock_guard lock(state->mutex);
        dropped = state->DropPendingLocked();
        state->running = false;
        state->stopRequested = false;
        state->threadId = std::thread::id();
    }
}
