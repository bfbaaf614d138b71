#include "tools/modemsim/modemoutput.h"

#include "tools/modemsim/pseudoterminal.h"

CModemOutput::CModemOutput(std::size_t limit, Log log)
    : mLimit(limit)
    , mLog(std::move(log))
{
}

void CModemOutput::Queue(std::string bytes, IClock::time_point due, IClock::time_point now)
{
    if (!mPending.empty() && mPending.back().due > due) {
        due = mPending.back().due;
    }
    mPending.push_back({due, std::move(bytes)});
    MoveDue(now);
}

void CModemOutput::MoveDue(IClock::time_point now)
{
    while (!mPending.empty() && mPending.front().due <= now) {
        if (mReady.size() + mPending.front().bytes.size() > mLimit) {
            mLog("output not read by the daemon, dropping " + std::to_string(mPending.front().bytes.size()) + " bytes");
        } else {
            mReady += mPending.front().bytes;
        }
        mPending.erase(mPending.begin());
    }
}

std::optional<IClock::time_point> CModemOutput::NextDue() const
{
    if (mPending.empty()) {
        return std::nullopt;
    }
    return mPending.front().due;
}

void CModemOutput::WriteTo(CPseudoTerminal& terminal)
{
    if (!mReady.empty()) {
        mReady.erase(0, terminal.Write(mReady));
    }
}

void CModemOutput::Clear()
{
    mPending.clear();
    mReady.clear();
}
