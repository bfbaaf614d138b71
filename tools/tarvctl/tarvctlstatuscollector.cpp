#include "tools/tarvctl/tarvctlstatuscollector.h"

#include <algorithm>

void CTarvCtlStatusCollector::NotifyStatus(const ipc::MNetStatus& status)
{
    std::lock_guard lock(mMutex);
    mStatuses[status.interface()] = status;
    mChanged.notify_all();
}

std::map<int, ipc::MNetStatus> CTarvCtlStatusCollector::WaitFor(const std::vector<ipc::EIfName>& interfaces,
                                                                std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mMutex);
    mChanged.wait_for(lock, timeout, [&] {
        return std::all_of(interfaces.begin(), interfaces.end(), [&](int id) { return mStatuses.count(id) > 0; });
    });
    return mStatuses;
}
