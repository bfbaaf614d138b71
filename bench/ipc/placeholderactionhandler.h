#pragma once
// Benchmark stand-in: Lifecycle actions that touch no network: every action succeeds at once and
// posts the completion event the lifecycle expects. Lets the daemon run its
// whole lifecycle (and its IPC contract) before the network actions exist.
//
// Errors still recover: entering Error arms the recovery back-off, whose
// retry posts IntRecoveryDone from the worker until IntReinitialize runs.

#include "statemachines/hsmalive.h"
#include "statemachines/recoverybackoff.h"
#include "statemachines/tarvhsmactionhandlerbase.h"
#include "platform/worker/iclock.h"

#include <memory>

class CTarvHsmPlaceholderActionHandler : public CHsmAlive<CTarvHsmActionHandlerBase> {
public:
    // Starts the handler's worker on the given clock. CWorker is a virtual
    // base: a derived class must construct it itself, as CWorker("tarvhsm",
    // clock), and pass the same clock here (checked).
    explicit CTarvHsmPlaceholderActionHandler(std::shared_ptr<IClock> clock = IClock::Steady());
    // Stops the worker before the members its calls use go away.
    ~CTarvHsmPlaceholderActionHandler() override;

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

protected:
    // Schedules the recovery retry; called when Error is entered.
    void ArmRecovery();
    // Stops the retry at the start of a recovery attempt.
    void CancelRecovery();
    // After a successful IntReinitialize: stops the retry, resets the delay.
    void RecoverySucceeded();

private:
    CRecoveryBackoff mRecovery; // touched only on the machine's thread
};
