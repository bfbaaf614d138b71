#pragma once
// Steps the modem towards its target state every 500 ms on a worker of its
// own; the work of each state is the implementation's.

#include "platform/worker/worker.h"
#include "src/components/ltemodem/imodemstatemachine.h"
#include "src/components/ltemodem/imodemstatemachineimpl.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class CModemStateMachine final : public IModemStateMachine {
public:
    static constexpr std::chrono::milliseconds kDefaultPeriod {500};
    // Told of each state change, old then new, on the machine's worker.
    using TransitionObserver = std::function<void(EModemState from, EModemState to)>;

    // The worker's thread runs from a new target until the machine has
    // reached it (tests hand in one on a manual clock and wait for its steps with Sync).
    explicit CModemStateMachine(std::unique_ptr<IModemStateMachineImpl> impl,
                                std::shared_ptr<CWorker> worker = std::make_shared<CWorker>("modemsm"),
                                std::chrono::milliseconds period = kDefaultPeriod,
                                TransitionObserver observer = {});
    // Cancels the pending step and stops the worker.
    ~CModemStateMachine() override;
    CModemStateMachine(const CModemStateMachine&) = delete;
    CModemStateMachine& operator=(const CModemStateMachine&) = delete;

    void SetTargetState(EModemState target, Callback callback) override;
    bool Resume() override;

    static const char* EModemStateToString(EModemState state);

private:
    // The one place the state changes: logs old -> new, tells the observer,
    // and calls back when the change completes a procedure (Initializing ->
    // Initialized, Enabling -> Enabled, Disabling -> Disabled). Runs on the
    // worker without mMutex held.
    void EnterState(EModemState next);
    // The state that leads towards the target, or nullopt (the target was
    // reached or is dropped).
    std::optional<EModemState> NextTowardsTarget();
    EStepResult RunStep(EModemState state);
    void Update();
    void StartUpdateWorkerTaskLocked();
    void ScheduleNextStep();

    // Set once at construction.
    const std::unique_ptr<IModemStateMachineImpl> mImpl;
    const std::shared_ptr<CWorker> mWorker;
    const std::chrono::milliseconds mPeriod;
    const TransitionObserver mObserver;

    std::mutex mMutex;
    CWorker::CallHandle mStepCall;                   // guarded by mMutex
    std::optional<EModemState> mTarget;              // guarded by mMutex
    // Guarded by mMutex; written only by EnterState, on the worker.
    EModemState mState = EModemState::Disabled;
    std::map<EModemState, Callback> mCallbacks;      // guarded by mMutex
    // Set when recovery has given up; read by callers, written by the worker.
    std::atomic<bool> mStopped {false};
};
