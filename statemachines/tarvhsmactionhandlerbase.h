#pragma once
// The actions of the daemon's lifecycle machine. Each runs on the machine's
// thread and reports its outcome by posting an event (see tarvhsm.h).

#include "statemachines/hsmactionhandlerbase.h"

#include <functional>

class CTarvHsmActionHandlerBase : public CHsmActionHandlerBase {
public:
    // Takes every interface down; posts IntDisablingDone or IntError.
    virtual void IntDisableAll() = 0;
    // Enables the configured interfaces; posts IntEnablingDone or IntError.
    virtual void IntEnableNetworks() = 0;
    // Entry of Error.
    virtual void IntHandleError() = 0;
    // Posts IntInitializingDone or IntError.
    virtual void IntInitializeNetwork() = 0;
    // Posts IntNtpInitialized when time synchronisation can start.
    virtual void IntInitializeNtp() = 0;
    virtual void IntStopAliveTimer() = 0;
    // Re-initialises after an error; posts IntRecoveringDone or IntError.
    virtual void IntReinitialize() = 0;
    // Marks the daemon enabled; posts IntTarvIfInit or IntError.
    virtual void IntSetTarvEnabled() = 0;
    virtual void IntSetTarvNotEnabled() = 0;
    virtual void IntStartAliveTimer() = 0;
    virtual void IntStartNtpd() = 0;
    // Entry of FatalError: cancels a pending recovery retry for good.
    virtual void IntStopRecovery() = 0;
    // Cancels the handler's scheduled calls, waits for its worker, then posts
    // IntStopWorkerThreadDone.
    virtual void IntStopWorkerThread() = 0;

    // Lifecycle state reports to the controlling client; each is skipped
    // when not set. Installed by the wiring before the machine runs, then
    // only read, on the machine's thread.
    std::function<void()> ExtDisabledRsp;
    std::function<void()> ExtEnabledRsp;
    std::function<void()> ExtErrorRsp;
    std::function<void()> ExtFatalErrorRsp;
    std::function<void()> ExtSendAlive;
    std::function<void()> ExtUninitializedRsp;
};
