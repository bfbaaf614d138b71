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
#include "tests/components/mocks/handlermocks.h"
#include "tests/statemachines/recordinghandler.h"

#include <poll.h>

#include <chrono>
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
        ok = ok && !mFailing.contains(operation);
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
