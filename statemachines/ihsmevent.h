#pragma once
// Base of every state machine event. An event carries no data of its own; its
// dynamic type says what it is. It is created with shared ownership, posted to
// a machine and completed once by the machine when it has been dispatched.
//
// The completion promise is created only when someone takes the future:
// most events are posted by the machine's own actions and nobody waits for
// them, and fulfilling a promise costs a system call (and creating one, two
// allocations). With no waiter, the event object is the only allocation.

#include <atomic>
#include <future>
#include <optional>
#include <string>

class IHsmEvent {
public:
    IHsmEvent() = default;
    IHsmEvent(const IHsmEvent&) = delete;
    IHsmEvent& operator=(const IHsmEvent&) = delete;
    virtual ~IHsmEvent() = default;

    // Name of the event type, as the trace log shows it.
    virtual const std::string& GetName() const = 0;

    // Future of the completion: true when a state handled the event, false
    // when none did. Take it once, before posting (taken later, it is ready
    // at once if the event was already dispatched). If the event is destroyed
    // undispatched, the future reports a broken promise.
    std::future<bool> GetFuture();

    // Fulfils the completion. Called by the machine during dispatch; only the
    // first call counts, so an event posted twice by mistake cannot throw
    // from the dispatch loop.
    void Complete(bool handled);

    // The poster gave up waiting: the event must not take effect any more.
    // False when the machine has already started dispatching it; the poster
    // then waits for the completion, which follows at once.
    bool Abandon();
    // Called by the machine just before dispatch; false when the poster
    // abandoned the event, which the machine then drops.
    bool Claim();

private:
    static constexpr unsigned kFutureTaken = 1U;
    static constexpr unsigned kCompleted = 2U;
    static constexpr unsigned kHandled = 4U;
    static constexpr unsigned kClaimed = 8U;
    static constexpr unsigned kAbandoned = 16U;

    // Created by GetFuture before kFutureTaken is published; fulfilled by
    // whichever of GetFuture and Complete sets its flag second.
    std::optional<std::promise<bool>> mCompletion;
    std::atomic<unsigned> mFlags{0};
};
