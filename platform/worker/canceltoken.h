#pragma once
// Cancellation of a piece of work that runs commands: once cancelled, the
// command it is running is stopped with its whole process group and no
// further command of it starts. Work marks itself with a CScope on its
// thread; the command runner asks Current() of the calling thread, so the
// runs of other threads (status polls) are never touched.

#include "platform/toolbox/uniquefd.h"

#include <atomic>

class CCancelToken {
public:
    // Throws std::system_error when no event descriptor can be made.
    CCancelToken();
    CCancelToken(const CCancelToken&) = delete;
    CCancelToken& operator=(const CCancelToken&) = delete;

    // Any thread; idempotent.
    void Cancel();
    bool IsCancelled() const { return mCancelled.load(); }
    // Readable once cancelled (for poll).
    int Fd() const { return mEvent.Get(); }

    // The token of the work the calling thread runs, or nullptr.
    static CCancelToken* Current();

    // Makes the token the calling thread's for its lifetime (nesting restores
    // the outer one).
    class CScope {
    public:
        explicit CScope(CCancelToken& token);
        ~CScope();
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        CCancelToken* const mOuter;
    };

private:
    std::atomic<bool> mCancelled{false};
    const CUniqueFd mEvent;
};
