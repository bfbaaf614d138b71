#include "src/components/lifecycle/tarvinterfacejobs.h"

#include <utility>

CTarvInterfaceJobs::CTarvInterfaceJobs(std::shared_ptr<IClock> clock, CWorker::ErrorReporter reporter)
    : mToken(std::make_shared<CCancelToken>()), mWorker("interfaces", std::move(clock))
{
    mWorker.SetErrorReporter(std::move(reporter));
    mWorker.Start();
}

CTarvInterfaceJobs::~CTarvInterfaceJobs()
{
    // A job waiting on a command ends at once instead of at its deadline.
    CancelAll();
    mWorker.Stop();
}

std::shared_ptr<CCancelToken> CTarvInterfaceJobs::Current()
{
    std::lock_guard lock(mMutex);
    return mToken;
}

void CTarvInterfaceJobs::RunUnder(const std::shared_ptr<CCancelToken>& token, const Job& job)
{
    if (token->IsCancelled()) {
        return; // superseded before it started
    }
    CCancelToken::CScope scope(*token);
    job();
}

void CTarvInterfaceJobs::RunNew(Job job)
{
    auto token = std::make_shared<CCancelToken>();
    {
        std::lock_guard lock(mMutex);
        mToken->Cancel();
        mToken = token;
    }
    mWorker.NonBlockingCall([token = std::move(token), job = std::move(job)] { RunUnder(token, job); });
}

void CTarvInterfaceJobs::RunInCurrent(Job job)
{
    mWorker.NonBlockingCall([token = Current(), job = std::move(job)] { RunUnder(token, job); });
}

CWorker::CallHandle CTarvInterfaceJobs::RunAt(Job job, IClock::time_point due)
{
    return mWorker.AddCall([token = Current(), job = std::move(job)] { RunUnder(token, job); }, due);
}

void CTarvInterfaceJobs::RunHere(const Job& job)
{
    const std::shared_ptr<CCancelToken> token = Current();
    CCancelToken::CScope scope(*token);
    job();
}

void CTarvInterfaceJobs::CancelAll()
{
    std::lock_guard lock(mMutex);
    mToken->Cancel();
}

void CTarvInterfaceJobs::Sync()
{
    mWorker.Sync();
}

bool CTarvInterfaceJobs::IsCancelled()
{
    const CCancelToken* token = CCancelToken::Current();
    return token != nullptr && token->IsCancelled();
}
