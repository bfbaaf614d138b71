#include "src/tarv.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

CTarv::CTarv(const std::string& rootDirectory) : mRoot(rootDirectory)
{
    CRootDir::Set(mRoot);
    TLOG_INFO("Tarv starting with root directory '{}'", mRoot);
}

void CTarv::Run()
{
    mInterrupts.Start([this](int signalNumber) {
        if (signalNumber != 2) {
            return;
        }
        std::lock_guard lock(mMutex);
        mStopRequested = true;
        mCv.notify_all();
    });
    TLOG_INFO("Starting state machine");
    {
        std::unique_lock lock(mMutex);
        mCv.wait(lock, [this] { return mStopRequested; });
    }
    mInterrupts.Stop();
    TLOG_INFO("State machine stopped");
}
