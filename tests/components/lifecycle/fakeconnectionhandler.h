#pragma once
// Scripted connection handlers for the lifecycle actions: every call is
// written to a journal shared by the handlers of one station ("eth0.Enable"),
// statuses and failures are set by the test. Thread-safe: the actions call
// handlers from the machine's thread, the worker and request threads.

#include "diagnostics/signalcatalogue.h"
#include "platform/worker/canceltoken.h"
#include "src/components/handlers/itarvethcontrol.h"
#include "src/components/handlers/itarvltecontrol.h"
#include "src/components/handlers/itarvwlancontrol.h"
#include "platform/ipc/itarvclient.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/lifecycle/tarvhandlerset.h"
#include "src/components/system/intpmanager.h"
#include "src/components/system/tarvexception.h"
#include "statemachines/ihsminterface.h"
#include "tests/components/mocks/handlermocks.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace LifecycleFakes {

class CNoNtp : public INtpManager {
public:
    bool Init() override { return true; }
    void StartNtpd() override {}
};

class CNullClient : public ITarvClient {
public:
    void NotifyStatus(const ipc::MNetStatus&) override {}
    void NotifyFloat(float) override {}
};

// Also the recorder of posted events and notifications in the tests.
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

class CFakeHandler : public CTarvConnectionHandlerBase,
                     public ITarvEthControl,
                     public ITarvWlanControl,
                     public ITarvLteControl {
public:
    CFakeHandler(ipc::EIfName id, std::shared_ptr<ITarvConfig> config, std::shared_ptr<CJournal> journal)
        : CTarvConnectionHandlerBase({.config = std::move(config)},
                                     {id, HwHasWlan, std::chrono::seconds(1), &Signals::kWlanLinkState}),
          mJournal(std::move(journal))
    {
        mStatus.set_interface(id);
        mStatus.set_connectionstate(ipc::MNetStatus::EDisconnected);
    }

    void Initialize() override { Record("Initialize"); }
    void Enable(bool& ok) override { Act("Enable", ok); }
    void Disable(bool& ok) override { Act("Disable", ok); }
    ipc::MNetStatus GetStatus() override
    {
        std::lock_guard lock(mMutex);
        ++mStatusReads;
        if (mFailing.contains("GetStatus")) {
            throw CTarvException();
        }
        return mStatus;
    }
    // The GetStatus calls since the previous call.
    int TakeStatusReads()
    {
        std::lock_guard lock(mMutex);
        return std::exchange(mStatusReads, 0);
    }
    void SendDiagSignals() override {}
    void SendExtendedDiagSignals() override {}
    void SetIfProperties(bool& ok) override { Act("SetIfProperties", ok); }
    void SetDns(bool& ok) override { Act("SetDns", ok); }
    void SetCredentialsAndEnable(bool& ok) override { Act("SetCredentialsAndEnable", ok); }
    ipc::MScanWlan ScanWlan() override { return {}; }
    void FastShutdown() override {}
    void UpdateModemSettings(bool& ok) override { Act("UpdateModemSettings", ok); }

    void SetStatus(const ipc::MNetStatus& status)
    {
        std::lock_guard lock(mMutex);
        mStatus = status;
    }
    void SetConnected(bool connected, int signalStrength = 0)
    {
        std::lock_guard lock(mMutex);
        mStatus.set_connectionstate(connected ? ipc::MNetStatus::EConnected : ipc::MNetStatus::EDisconnected);
        mStatus.set_signalstrength(signalStrength);
    }
    // "Enable" and the like clear ok; "!Enable" throws CTarvException,
    // "?Enable" another exception; "~Enable" waits (bounded) like a command
    // that ends only when its work is cancelled.
    void Fail(const std::string& operation)
    {
        std::lock_guard lock(mMutex);
        mFailing.insert(operation);
    }

private:
    void Record(const std::string& operation) { mJournal->Add(GetInterfaceName() + "." + operation); }
    // A flag that arrives cleared is another step's failure leaking in.
    void Act(const std::string& operation, bool& ok)
    {
        Record(ok ? operation : operation + " with a failed flag");
        std::unique_lock lock(mMutex);
        if (mFailing.contains("~" + operation)) {
            lock.unlock();
            const CCancelToken* token = CCancelToken::Current();
            pollfd event{token != nullptr ? token->Fd() : -1, POLLIN, 0};
            const bool cancelled = token != nullptr && ::poll(&event, 1, 10000) == 1;
            Record(operation + (cancelled ? " cancelled" : token != nullptr ? " timed out" : " not cancellable"));
            ok = false;
            return;
        }
        if (mFailing.contains("!" + operation)) {
            throw CTarvException();
        }
        if (mFailing.contains("?" + operation)) {
            throw std::runtime_error("scripted failure");
        }
        if (mFailing.contains(operation)) {
            ok = false;
        }
    }

    const std::shared_ptr<CJournal> mJournal;
    std::mutex mMutex;
    ipc::MNetStatus mStatus;          // guarded by mMutex
    int mStatusReads = 0;             // guarded by mMutex
    std::set<std::string> mFailing;   // guarded by mMutex
};

// The five handlers of a station, with scripted error handler and editor.
struct SFakeStation {
    explicit SFakeStation(const std::shared_ptr<ITarvConfig>& config)
    {
        for (const ipc::EIfName id : {ipc::EUap0, ipc::EEth0, ipc::EWlan0, ipc::ELte0, ipc::EPlc0}) {
            handlers[id] = std::make_shared<CFakeHandler>(id, config, journal);
        }
        ON_CALL(*errorHandler, DoesIfExist(testing::_)).WillByDefault(testing::Return(true));
    }

    STarvHandlerSet Set() const
    {
        return {handlers.at(ipc::EUap0), handlers.at(ipc::EEth0), handlers.at(ipc::EWlan0), handlers.at(ipc::ELte0),
                handlers.at(ipc::EPlc0), handlers.at(ipc::EEth0), handlers.at(ipc::EWlan0), handlers.at(ipc::ELte0),
                errorHandler, editor};
    }

    CFakeHandler& operator[](ipc::EIfName id) { return *handlers.at(id); }

    std::shared_ptr<CJournal> journal = std::make_shared<CJournal>();
    std::map<ipc::EIfName, std::shared_ptr<CFakeHandler>> handlers;
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockTarvErrorHandler>> errorHandler =
        std::make_shared<testing::NiceMock<HandlerMocks::MockTarvErrorHandler>>();
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockInterfacesFileEditor>> editor =
        std::make_shared<testing::NiceMock<HandlerMocks::MockInterfacesFileEditor>>();
};

} // namespace LifecycleFakes
