#include "tools/modemsim/modeminput.h"

CModemInput::CModemInput(std::size_t limit)
    : mLimit(limit)
{
}

CModemInput::EEnd CModemInput::Take(char c, std::string& line)
{
    if (c == '\r') {
        line.clear();
        line.swap(mLine);
        if (mOverflow) {
            mOverflow = false;
            return EEnd::TooLong;
        }
        return EEnd::Line;
    }
    if (c == '\n' && mLine.empty()) {
        return EEnd::None;
    }
    if (mLine.size() >= mLimit) {
        mOverflow = true;
        mLine.clear();
    } else if (!mOverflow) {
        mLine += c;
    }
    return EEnd::None;
}

void CModemInput::Reset()
{
    mLine.clear();
    mOverflow = false;
}
