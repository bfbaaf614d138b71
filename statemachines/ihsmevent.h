#pragma once
// Base of every state machine event. An event carries no data of its own; its
// dynamic type says what it is. It is created with shared ownership, posted to
// a machine and completed once by the machine when it has been dispatched.

#include <atomic>
#include <future>
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
    // when none did. Take it before posting; it can be taken once.
    std::future<bool> GetFuture();

    // Fulfils the completion. Called by the machine during dispatch; only the
    // first call counts, so an event posted twice by mistake cannot throw
    // from the dispatch loop.
    void Complete(bool handled);

private:
    std::promise<bool> mCompletion;
    std::atomic<bool> mCompleted{false};
};
