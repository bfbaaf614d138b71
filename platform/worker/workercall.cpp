#include "platform/worker/workercall.h"

void CWorkerCall::Cancel()
{
    std::lock_guard lock(mMutex);
    mCancelled = true;
    if (!mRunning) {
        mFinished = true;
    }
}

bool CWorkerCall::IsFinished() const
{
    return mFinished;
}

bool CWorkerCall::IsCancelled() const
{
    return mCancelled;
}

bool CWorkerCall::BeginRun()
{
    std::lock_guard lock(mMutex);
    if (mCancelled || mFinished) {
        mFinished = true;
        return false;
    }
    mRunning = true;
    return true;
}

bool CWorkerCall::EndRun(bool periodic)
{
    std::lock_guard lock(mMutex);
    mRunning = false;
    if (mCancelled || !periodic) {
        mFinished = true;
        return false;
    }
    return true;
}
