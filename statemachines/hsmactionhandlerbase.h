#pragma once
// Common base of the objects whose operations are a machine's actions. The
// machine registers itself here when it is created, so actions can post
// follow-up events. The pointer does not own: the machine owns the handler.

#include "statemachines/ihsminterface.h"

#include <atomic>
#include <memory>
#include <shared_mutex>

class CHsmActionHandlerBase {
public:
    CHsmActionHandlerBase() = default;
    CHsmActionHandlerBase(const CHsmActionHandlerBase&) = delete;
    CHsmActionHandlerBase& operator=(const CHsmActionHandlerBase&) = delete;
    virtual ~CHsmActionHandlerBase() = default;

    void SetHsmInterface(IHsmInterface* hsm) noexcept;
    // Clears the pointer if it still names hsm (a machine going away); waits
    // for posts to it in progress on other threads, so that none reaches the
    // machine once its destructor goes on.
    void ResetHsmInterface(IHsmInterface* hsm) noexcept;
    IHsmInterface* GetHsmInterface() const noexcept;

    // Posts to the machine; throws std::logic_error while no machine is set.
    void PostEvent(std::shared_ptr<IHsmEvent> event) const;

    template <typename Event>
    void Post() const
    {
        PostEvent(std::make_shared<Event>());
    }

private:
    // Written by the machine's constructor and destructor, read by any
    // thread that posts. Posts hold mPosting shared for their whole call
    // into the machine; the reset holds it exclusively.
    std::atomic<IHsmInterface*> mHsm{nullptr};
    mutable std::shared_mutex mPosting;
};
