#pragma once
// Recorders for the lifecycle's tests.

#include "statemachines/tarvhsm.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Entries added from any thread, taken by the test.
class CJournal {
public:
    void Add(const std::string& entry)
    {
        std::lock_guard lock(mMutex);
        mEntries.push_back(entry);
        mAdded.notify_all();
    }
    std::vector<std::string> Take()
    {
        std::lock_guard lock(mMutex);
        return std::exchange(mEntries, {});
    }
    // Waits (bounded) until the entry was added; false if it never was.
    bool WaitFor(const std::string& entry)
    {
        std::unique_lock lock(mMutex);
        return mAdded.wait_for(lock, std::chrono::seconds(10),
                               [&] { return std::find(mEntries.begin(), mEntries.end(), entry) != mEntries.end(); });
    }

private:
    std::mutex mMutex;
    std::condition_variable mAdded;
    std::vector<std::string> mEntries; // guarded by mMutex
};

// A machine that dispatches nothing: it records the names of the events
// posted to it and drops them (a blocking request then fails at once).
class CPostedEvents : public IHsmInterface, public CJournal {
public:
    void PostEvent(std::shared_ptr<IHsmEvent> event) override { Add(event->GetName()); }
    void Run() override {}
    void Stop() override {}
    bool IsRunning() const override { return false; }
};

// An event no machine handles: once its future is ready, everything posted
// before it has been dispatched.
struct SProbeTag {
    static constexpr std::string_view EventName(unsigned) { return "Probe"; }
};
using Probe = CHsmEvent<SProbeTag, 0>;

// Posts a new event; the future answers once it was dispatched.
template <typename Event>
std::future<bool> PostAndWatch(IHsmInterface& machine)
{
    auto event = std::make_shared<Event>();
    auto future = event->GetFuture();
    machine.PostEvent(event);
    return future;
}

// Lifecycle action handler for table tests: records every action and
// response callback by name. With mComplete set, each action posts the event
// the lifecycle expects of it on success.

class CRecordingHandler : public CTarvHsmActionHandlerBase {
public:
    CRecordingHandler()
    {
        ExtDisabledRsp = [this] { Record("ExtDisabledRsp"); };
        ExtEnabledRsp = [this] { Record("ExtEnabledRsp"); };
        ExtErrorRsp = [this] { Record("ExtErrorRsp"); };
        ExtFatalErrorRsp = [this] { Record("ExtFatalErrorRsp"); };
        ExtSendAlive = [this] { Record("ExtSendAlive"); };
        ExtUninitializedRsp = [this] { Record("ExtUninitializedRsp"); };
    }

    void IntDisableAll() override { Act<TarvHsm::IntDisablingDone>("IntDisableAll"); }
    void IntEnableNetworks() override { Act<TarvHsm::IntEnablingDone>("IntEnableNetworks"); }
    void IntHandleError() override { Record("IntHandleError"); }
    void IntInitializeNetwork() override { Act<TarvHsm::IntInitializingDone>("IntInitializeNetwork"); }
    void IntInitializeNtp() override { Act<TarvHsm::IntNtpInitialized>("IntInitializeNtp"); }
    void IntStopAliveTimer() override { Record("IntStopAliveTimer"); }
    void IntReinitialize() override { Act<TarvHsm::IntRecoveringDone>("IntReinitialize"); }
    void IntSetTarvEnabled() override { Act<TarvHsm::IntTarvIfInit>("IntSetTarvEnabled"); }
    void IntSetTarvNotEnabled() override { Record("IntSetTarvNotEnabled"); }
    void IntStartAliveTimer() override { Record("IntStartAliveTimer"); }
    void IntStartNtpd() override { Record("IntStartNtpd"); }
    void IntStopRecovery() override { Record("IntStopRecovery"); }
    void IntStopWorkerThread() override { Act<TarvHsm::IntStopWorkerThreadDone>("IntStopWorkerThread"); }

    void Record(const std::string& what) { mCalls.push_back(what); }

    std::vector<std::string> mCalls;
    bool mComplete = false;

private:
    template <typename Done>
    void Act(const std::string& name)
    {
        Record(name);
        if (mComplete) {
            Post<Done>();
        }
    }
};
