#pragma once
// What the simulated modem sends: answers waiting for their time, in the
// order they were queued (nothing overtakes a delayed one), then the bytes
// ready for the terminal. Not thread-safe: the simulator calls it with its
// lock held.

#include "platform/worker/iclock.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CPseudoTerminal;

class CModemOutput {
public:
    using Log = std::function<void(const std::string&)>;

    // Ready bytes beyond limit are dropped (the daemon does not read them),
    // with a line to log.
    CModemOutput(std::size_t limit, Log log);

    // Queues bytes to be sent at due, or after the last queued answer.
    void Queue(std::string bytes, IClock::time_point due, IClock::time_point now);
    // Makes the answers due at now ready to send.
    void MoveDue(IClock::time_point now);
    // A byte ready at once (the echo of input).
    void Echo(char c) { mReady += c; }
    std::optional<IClock::time_point> NextDue() const;
    bool HasReady() const { return !mReady.empty(); }
    // Writes as much of the ready bytes as the terminal takes now.
    void WriteTo(CPseudoTerminal& terminal);
    void Clear();

private:
    struct SPending {
        IClock::time_point due;
        std::string bytes;
    };

    const std::size_t mLimit;
    const Log mLog;
    std::vector<SPending> mPending;
    std::string mReady;
};
