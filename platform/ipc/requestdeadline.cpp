#include "platform/ipc/requestdeadline.h"

namespace {
// Only ever touched by its own thread.
thread_local CRequestDeadline::Clock::time_point tCurrent = CRequestDeadline::Clock::time_point::max();
} // namespace

CRequestDeadline::Clock::time_point CRequestDeadline::Current()
{
    return tCurrent;
}

CRequestDeadline::CScope::CScope(Clock::time_point deadline) : mPrevious(tCurrent)
{
    tCurrent = deadline;
}

CRequestDeadline::CScope::~CScope()
{
    tCurrent = mPrevious;
}
