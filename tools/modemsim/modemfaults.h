#pragma once
// The faults the simulated modem injects into its answers. Each matches a
// command line exactly or by its beginning, lets its first `skip` matches
// through and then hits up to `times` of them. Not thread-safe: the
// simulator calls it with its lock held.

#include "tools/modemsim/modemscenario.h"

#include <string>
#include <vector>

class CModemFaults {
public:
    void Add(const SModemFault& fault);
    // The fault that hits this command line, if any; every fault the line
    // matches counts the match.
    const SModemFault* Match(const std::string& line);

    // The kind as the log names it ("cme-error").
    static const char* KindName(SModemFault::EKind kind);

private:
    struct SActive {
        SModemFault fault;
        int seen = 0;
        int hits = 0;
    };

    std::vector<SActive> mFaults;
};
