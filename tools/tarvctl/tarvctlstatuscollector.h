#pragma once
// Collects the interface statuses the daemon notifies after a trigger
// request, for the caller to wait on.

#include "platform/ipc/itarvclient.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

class CTarvCtlStatusCollector : public ITarvClient {
public:
    void NotifyStatus(const ipc::MNetStatus& status) override;
    void NotifyFloat(float) override {}

    // Every status collected once each interface has one, or the timeout passed.
    std::map<int, ipc::MNetStatus> WaitFor(const std::vector<ipc::EIfName>& interfaces,
                                           std::chrono::milliseconds timeout);

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::map<int, ipc::MNetStatus> mStatuses; // guarded by mMutex
};
