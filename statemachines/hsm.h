#pragma once
// The state machine: an event queue and a run loop that dispatches one event
// at a time to the current leaf state, on the thread that calls Run.
//
// The states of a machine over action handler H are declared elsewhere; the
// machine learns its initial leaf from a specialisation
//   template <> struct SHsmDefinition<H> { using Initial = SomeLeaf; };

#include "statemachines/hsmactionhandlerbase.h"
#include "statemachines/hsmstates.h"
#include "statemachines/ihsminterface.h"
#include "platform/log/log.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstddef>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>

template <typename H>
struct SHsmDefinition;

template <typename H>
class CHsm final : public IHsmInterface {
public:
    using Handler = H;
    using State = TopState<CHsm>;

    // Create with std::make_shared; registers the machine with the handler.
    explicit CHsm(std::shared_ptr<H> handler) : mHandler(std::move(handler))
    {
        if (!mHandler) {
            throw std::invalid_argument("CHsm: no action handler");
        }
        mHandler->SetHsmInterface(this);
    }

    CHsm(const CHsm&) = delete;
    CHsm& operator=(const CHsm&) = delete;

    // Events still queued are destroyed: their waiting posters see a broken
    // promise. The handler may outlive the machine; it forgets the machine so
    // that a late post throws instead of reaching freed memory.
    ~CHsm() override { mHandler->ResetHsmInterface(this); }

    void PostEvent(std::shared_ptr<IHsmEvent> event) override
    {
        if (!event) {
            throw std::invalid_argument("CHsm::PostEvent: empty event");
        }
        {
            std::lock_guard lock(mMutex);
            if (!mClosed) {
                mQueue.push_back(std::move(event));
                event = nullptr;
            }
        }
        if (event) {
            // The machine has ended for good: nobody will ever dispatch it.
            event->Complete(false);
            return;
        }
        mCv.notify_all();
    }

    // Ends the machine for good once Run has returned for the last time:
    // events still queued and events posted later complete at once as not
    // handled, so posters blocked on them (request threads the IPC host
    // must join during shutdown) are released instead of waiting forever.
    void Close()
    {
        std::deque<std::shared_ptr<IHsmEvent>> pending;
        {
            std::lock_guard lock(mMutex);
            mClosed = true;
            pending.swap(mQueue);
        }
        for (const auto& event : pending) {
            event->Complete(false);
        }
    }

    void Run() override { Loop(false, 0); }

    // Like Run, but returns once the queue is empty or maxEvents events were
    // dispatched; returns the number dispatched. Kept public for the tests
    // and benchmarks, which drive the machine step by step on their own thread.
    std::size_t RunUntilIdle(std::size_t maxEvents = std::numeric_limits<std::size_t>::max())
    {
        return Loop(true, maxEvents);
    }

    void Stop() override
    {
        {
            std::lock_guard lock(mMutex);
            mRunning.store(false, std::memory_order_release);
        }
        mCv.notify_all();
    }

    bool IsRunning() const override { return mRunning.load(std::memory_order_acquire); }

    H& ActionHandler() const { return *mHandler; }

    // The current leaf, null before the first Run. Safe from any thread; it
    // may change right after the call.
    const State* GetCurrentState() const { return mCurrent.load(std::memory_order_acquire); }

private:
    // The leaf states set themselves current at the end of their entry.
    template <typename, unsigned, typename>
    friend class LeafState;

    void SetCurrentState(const State& state) { mCurrent.store(&state, std::memory_order_release); }

    std::size_t Loop(bool untilIdle, std::size_t maxEvents)
    {
        {
            std::lock_guard lock(mMutex);
            mRunning.store(true, std::memory_order_release);
        }
        if (mCurrent.load(std::memory_order_relaxed) == nullptr) {
            EnterInitialState();
        }
        std::size_t dispatched = 0;
        try {
            for (;;) {
                std::shared_ptr<IHsmEvent> event;
                {
                    std::unique_lock lock(mMutex);
                    if (untilIdle && (mQueue.empty() || dispatched == maxEvents)) {
                        mRunning.store(false, std::memory_order_release);
                        return dispatched;
                    }
                    mCv.wait(lock, [this] { return !mQueue.empty() || !mRunning.load(std::memory_order_relaxed); });
                    if (!mRunning.load(std::memory_order_relaxed)) {
                        // Stopped: whatever is still queued stays queued.
                        return dispatched;
                    }
                    event = std::move(mQueue.front());
                    mQueue.pop_front();
                }
                Dispatch(*event);
                ++dispatched;
            }
        } catch (...) {
            // An action threw: the exception leaves Run and the machine no
            // longer counts as running.
            {
                std::lock_guard lock(mMutex);
                mRunning.store(false, std::memory_order_release);
            }
            throw;
        }
    }

    void EnterInitialState() noexcept
    {
        // noexcept: a failure of the very first entry actions leaves no state
        // to continue from, so it ends the process.
        using Initial = typename SHsmDefinition<H>::Initial;
        TLOG_TRACE("State {}: init", Initial::Composite::Name());
        Initial::Enter(*this);
    }

    void Dispatch(IHsmEvent& event)
    {
        const State& current = *mCurrent.load(std::memory_order_relaxed);
        if (!event.Claim()) {
            // A request whose client stopped waiting must not take effect later.
            TLOG_WARN("State {}: {} dropped, its requester gave up waiting", current.GetName(), event.GetName());
            event.Complete(false);
            return;
        }
        TLOG_TRACE("State {}: event recv {}", current.GetName(), event.GetName());
        current.HandleEvent(*this, event);
    }

    std::shared_ptr<H> mHandler;
    // Written only by the thread in Run; atomic so others may read it.
    std::atomic<const State*> mCurrent{nullptr};
    std::deque<std::shared_ptr<IHsmEvent>> mQueue;   // guarded by mMutex
    bool mClosed = false;                             // guarded by mMutex
    // Written under mMutex (the run loop waits on it); read lock-free by IsRunning.
    std::atomic<bool> mRunning{false};
    std::condition_variable mCv;
    std::mutex mMutex;
};
