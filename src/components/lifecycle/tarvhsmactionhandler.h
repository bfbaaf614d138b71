#pragma once
// The daemon's lifecycle actions: initialising the system's network (host
// name, interfaces file, MAC addresses), enabling the configured interfaces,
// applying configuration changes, disabling, status tracking while enabled,
// and the recovery retries after an error. Actions run on the machine's
// thread and report by posting events; timed calls run on this object's own
// worker thread. The handlers' long work (initialising, enabling, disabling,
// the access point's timer) runs as jobs (CTarvInterfaceJobs), so that the
// machine answers at once; a new lifecycle step cancels the job in progress,
// and a cancelled job reports nothing.

#include "platform/ipc/itarvclient.h"
#include "platform/worker/iclock.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/lifecycle/tarvhandlerset.h"
#include "src/components/lifecycle/tarvinterfacejobs.h"
#include "src/components/lifecycle/tarvinterfaceupdater.h"
#include "src/components/lifecycle/tarvstatusrequests.h"
#include "src/components/lifecycle/tarvstatustracker.h"
#include "src/components/system/ihostnamemanager.h"
#include "src/components/system/intpmanager.h"
#include "src/components/system/iruncommand.h"
#include "statemachines/hsmalive.h"
#include "statemachines/recoverybackoff.h"
#include "statemachines/tarvhsmactionhandlerbase.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CTarvHsmActionHandler : public CHsmAlive<CTarvHsmActionHandlerBase> {
public:
    static constexpr std::chrono::minutes kApEnabledTime{15};
    // After a disable the status poll runs on this long, so the clients see
    // the interfaces go down.
    static constexpr std::chrono::seconds kPollStopDelay{2};
    // How long a leftover interface command gets to end on SIGTERM, then
    // on SIGKILL: twice this stays within a lifecycle step's 5 s.
    static constexpr std::chrono::seconds kLeftoverGrace{1};
    static constexpr std::size_t kMaxHostnameLength = 32;
    static constexpr std::size_t kProductSnLength = 13;
    static inline const std::string kHostnamePrefix = "EV-Charger-";

    // Starts the handler's worker on the clock.
    CTarvHsmActionHandler(std::shared_ptr<ITarvConfig> config, std::shared_ptr<ITarvClient> statusSink,
                          std::shared_ptr<IRunCommand> runCommand, std::shared_ptr<IHostnameManager> hostnameManager,
                          std::shared_ptr<INtpManager> ntpManager, std::shared_ptr<IClock> clock = IClock::Steady());
    // Cancels the jobs and stops both workers before the members their calls use go away.
    ~CTarvHsmActionHandler() override;

    // Returns once the jobs and the timed calls queued before have run.
    void Sync() override;

    // Called once before the machine runs; read-only afterwards.
    void SetHandlers(STarvHandlerSet handlers);

    void IntDisableAll() override;
    void IntEnableNetworks() override;
    void IntHandleError() override;
    void IntInitializeNetwork() override;
    void IntInitializeNtp() override;
    void IntReinitialize() override;
    void IntSetTarvEnabled() override;
    void IntSetTarvNotEnabled() override;
    void IntStartNtpd() override;
    void IntStopRecovery() override;
    void IntStopWorkerThread() override;

    // True from the start of Enabled (before state 3 is reported) until it is left. Any thread.
    bool IsTarvEnabled() const { return mEnabled.load(); }
    // Applies changed configuration keys to the handlers; clears ok on a
    // non-critical failure. Any thread; calls are serialised.
    void UpdateInterfaces(const std::vector<EConfigKey>& keys, bool& ok);
    // Sends the current status of each named interface; false when one of
    // them has no hardware. Rpc::CommunicationException passes to the caller.
    bool TriggerStatusNotification(const ipc::MNetInterfaces& interfaces);

    // The host name to use, set on the system. Throws CTarvException.
    std::string PatchHostname();
    // Sets the MAC address of the interface unless it has it. Throws CTarvException.
    void SetMacAddrs(const std::string& interfaceName, const std::string& macAddress);
    // Keeps the access point on for kApEnabledTime, then switches it off
    // unless the configuration wants it on.
    void ScheduleApDisable();

private:
    // Posts the event unless the calling thread's job was cancelled: what a
    // cancelled job found out belongs to a step the lifecycle has left.
    template <typename TEvent>
    void PostResult()
    {
        if (CTarvInterfaceJobs::IsCancelled()) {
            return;
        }
        Post<TEvent>();
    }

    // How an action's work ended.
    enum class EOutcome { Done, TypeError, Failed };
    // Runs an action's work. A configuration type error is logged as
    // typeError, any other exception but CTarvException (logged where it
    // was thrown) as "failure: what"; either posts IntError.
    EOutcome RunAction(const char* failure, const char* typeError, const std::function<void()>& action);

    // False when IntError was posted.
    bool InitializeNetwork();
    // Host name, interfaces file, the handlers' preparation, MAC addresses.
    void PrepareNetwork();
    // Once per run, before the first interface command: ends the ifup and
    // ifdown of the station's interfaces that a killed earlier run left.
    void StopLeftoverCommands();
    // EnableNetworks with its failures reported as IntError.
    void EnableNetworksReporting();
    void EnableNetworks();
    void DisableAll();
    // False when IntError was posted.
    bool DisableHandlers();
    // False when a critical failure was reported (IntError posted).
    bool UpdateInterfacesOrReportError(const std::vector<EConfigKey>& keys, bool& ok);
    void DisableApAfterTimeout();
    // Posts IntError; from the worker a missing machine is only logged.
    void PostErrorFromWorker() const;

    const std::shared_ptr<ITarvConfig> mConfig;
    const std::shared_ptr<ITarvClient> mStatusSink;
    const std::shared_ptr<IRunCommand> mRunCommand;
    const std::shared_ptr<IHostnameManager> mHostnameManager;
    const std::shared_ptr<INtpManager> mNtpManager;
    // Written once by SetHandlers before the machine runs, read-only afterwards.
    STarvHandlerSet mHandlers;
    // Refers to mHandlers; called under mUpdateMutex.
    const CTarvInterfaceUpdater mUpdater;
    // Refers to mHandlers; any thread.
    const CTarvStatusRequests mStatusRequests;
    CTarvStatusTracker mStatusTracker;

    // Serialises the application of configuration changes (validation
    // requests of several clients, the enabling action, the disabling action).
    std::recursive_mutex mUpdateMutex;
    CWorker::CallHandle mApDisableCall;      // guarded by mUpdateMutex
    std::mutex mDelayedCancelMutex;
    CWorker::CallHandle mDelayedCancelCall;  // guarded by mDelayedCancelMutex
    std::mutex mRecoveryMutex;
    CRecoveryBackoff mRecovery;              // guarded by mRecoveryMutex
    std::atomic<bool> mEnabled{false};
    std::atomic<bool> mLeftoversStopped{false}; // atomic: set by the first initialisation
    // Set in the constructor; reset first in the destructor, since its jobs
    // use every other member.
    std::unique_ptr<CTarvInterfaceJobs> mJobs;
};
