#include "tools/modemsim/modemfaults.h"

void CModemFaults::Add(const SModemFault& fault)
{
    mFaults.push_back({fault});
}

const SModemFault* CModemFaults::Match(const std::string& line)
{
    for (auto& active : mFaults) {
        const auto& f = active.fault;
        const bool match = f.prefix ? line.rfind(f.command, 0) == 0 : line == f.command;
        if (!match) {
            continue;
        }
        if (active.seen++ < f.skip || (f.times >= 0 && active.hits >= f.times)) {
            continue;
        }
        ++active.hits;
        return &active.fault;
    }
    return nullptr;
}

const char* CModemFaults::KindName(SModemFault::EKind kind)
{
    static const char* const kNames[] = {"timeout", "garbage", "error", "cme-error", "truncated",
                                         "endless", "unsolicited", "delay", "vanish"};
    return kNames[static_cast<int>(kind)];
}
