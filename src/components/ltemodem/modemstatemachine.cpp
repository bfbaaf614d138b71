#include "src/components/ltemodem/modemstatemachine.h"

#include "platform/log/log.h"

#include <stdexcept>
#include <utility>

namespace {

const char* TargetName(const std::optional<EModemState>& target)
{
    return target ? CModemStateMachine::EModemStateToString(*target) : "none";
}

// Whether the change completes the procedure that leads to the new state.
bool CompletesProcedure(EModemState from, EModemState to)
{
    return (from == EModemState::Initializing && to == EModemState::Initialized) ||
           (from == EModemState::Enabling && to == EModemState::Enabled) ||
           (from == EModemState::Disabling && to == EModemState::Disabled);
}

// The state a finished step of the given state arrives in, if it moves.
std::optional<EModemState> Reached(EModemState state)
{
    switch (state) {
    case EModemState::Initializing:
        return EModemState::Initialized;
    case EModemState::Enabling:
        return EModemState::Enabled;
    case EModemState::Disabling:
    case EModemState::Error:
        return EModemState::Disabled;
    default:
        return std::nullopt;
    }
}

} // namespace

CModemStateMachine::CModemStateMachine(std::unique_ptr<IModemStateMachineImpl> impl, std::shared_ptr<CWorker> worker,
                                       std::chrono::milliseconds period, TransitionObserver observer)
    : mImpl(std::move(impl))
    , mWorker(std::move(worker))
    , mPeriod(period)
    , mObserver(std::move(observer))
{
    if (!mImpl || !mWorker) {
        throw std::invalid_argument("CModemStateMachine needs an implementation and a worker");
    }
    // The worker's thread runs only while the machine steps: it starts with
    // a target, and a station without a modem never has one.
}

CModemStateMachine::~CModemStateMachine()
{
    {
        std::lock_guard lock(mMutex);
        if (mStepCall) {
            mStepCall->Cancel();
            mStepCall.reset();
        }
    }
    mWorker->Stop();
}

const char* CModemStateMachine::EModemStateToString(EModemState state)
{
    switch (state) {
    case EModemState::Disabled:
        return "Disabled";
    case EModemState::Initializing:
        return "Initializing";
    case EModemState::Initialized:
        return "Initialized";
    case EModemState::Enabling:
        return "Enabling";
    case EModemState::Enabled:
        return "Enabled";
    case EModemState::Disabling:
        return "Disabling";
    case EModemState::Error:
        return "Error";
    }
    TLOG_WARN("Unknown EModemState: ({}).", static_cast<int>(state));
    return "Unknown";
}

void CModemStateMachine::SetTargetState(EModemState target, Callback callback)
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    // Under the lock: a thread that ended itself in a finished step (see
    // Update) is started again before the new step is queued.
    mWorker->Start();
    if (mStopped.load()) {
        TLOG_ERROR("Modem in fatal error state, cannot change target state to {}", EModemStateToString(target));
        mImpl->RefreshDiagnosticSignals(target == EModemState::Disabled);
        return;
    }
    TLOG_DEBUG("Modem target state changed from {} to {}.", TargetName(mTarget), EModemStateToString(target));
    mTarget = target;
    // A power-up or enabling in flight ends between two of its commands.
    mImpl->RequestStop(target == EModemState::Disabled);
    if (callback) {
        mCallbacks[target] = std::move(callback);
    }
    StartUpdateWorkerTaskLocked();
}

bool CModemStateMachine::Resume()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    // A step still in flight has not finished stopping yet.
    if (!mStopped.load() || mStepCall) {
        return false;
    }
    TLOG_INFO("Modem leaves its fatal error state");
    mStopped.store(false);
    mWorker->Start();
    // The failures are forgotten on the worker, which owns them, before
    // the next step.
    mStepCall = mWorker->NonBlockingCall([this] {
        mImpl->ClearErrors();
        Update();
    });
    return true;
}

void CModemStateMachine::StartUpdateWorkerTaskLocked()
{
    TLOG_FUNCTION();
    if (mStepCall && !mStepCall->IsFinished()) {
        return;
    }
    TLOG_INFO("Starting modem state machine");
    mStepCall = mWorker->NonBlockingCall([this] {
        mStopped.store(false);
        Update();
    });
}

void CModemStateMachine::EnterState(EModemState next)
{
    EModemState previous;
    Callback arrival;
    {
        std::lock_guard lock(mMutex);
        previous = std::exchange(mState, next);
        if (CompletesProcedure(previous, next)) {
            const auto it = mCallbacks.find(next);
            if (it != mCallbacks.end()) {
                arrival = it->second;
            }
        }
    }
    TLOG_DEBUG("Modem transitioned from state {} to {}.", EModemStateToString(previous), EModemStateToString(next));
    if (mObserver) {
        mObserver(previous, next);
    }
    // Outside the lock: a callback may set the next target.
    if (arrival) {
        arrival(true);
    }
}

std::optional<EModemState> CModemStateMachine::NextTowardsTarget()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    if (!mTarget) {
        return std::nullopt;
    }
    if (*mTarget == mState) {
        TLOG_DEBUG("Modem target state {} reached, removing target state", EModemStateToString(mState));
        mTarget.reset();
        mImpl->ClearErrors();
        return std::nullopt;
    }
    if (mState == EModemState::Disabled && *mTarget == EModemState::Error) {
        TLOG_DEBUG("Modem reached disabled state from error, setting target state to Enabled");
        mTarget = EModemState::Enabled;
    }
    std::optional<EModemState> next;
    switch (*mTarget) {
    case EModemState::Disabled:
        next = EModemState::Disabling;
        break;
    case EModemState::Initialized:
        if (mState == EModemState::Disabled) {
            next = EModemState::Initializing;
        }
        break;
    case EModemState::Enabled:
        if (mState == EModemState::Disabled) {
            next = EModemState::Initializing;
        } else if (mState == EModemState::Initialized) {
            next = EModemState::Enabling;
        }
        break;
    case EModemState::Error:
        if (mState == EModemState::Enabled) {
            next = EModemState::Error;
        }
        break;
    default:
        break;
    }
    if (!next) {
        TLOG_WARN("Invalid EModemState target state: {}, removing target state", EModemStateToString(*mTarget));
        mTarget.reset();
    }
    return next;
}

EStepResult CModemStateMachine::RunStep(EModemState state)
{
    switch (state) {
    case EModemState::Initializing:
        return mImpl->DoInitializing();
    case EModemState::Enabling:
        return mImpl->DoEnabling();
    case EModemState::Disabling:
        return mImpl->DoDisabling();
    case EModemState::Error:
        return mImpl->DoError();
    default:
        return EStepResult::Done;
    }
}

void CModemStateMachine::Update()
{
    TLOG_FUNCTION();
    EModemState state;
    bool abandon = false;
    {
        std::lock_guard lock(mMutex);
        state = mState;
        // Checked and dropped under one lock: a target set meanwhile either
        // is seen here or finds no pending step and queues a new one.
        if (!mTarget && (state == EModemState::Disabled || state == EModemState::Enabled)) {
            TLOG_INFO("Modem state machine successfully finished in state {}", EModemStateToString(state));
            if (mStepCall) {
                mStepCall->Cancel();
                mStepCall.reset();
            }
            // Nothing is left for the thread until the next target: it ends
            // after this step, and SetTargetState starts it again.
            mWorker->Stop();
            return;
        }
        // A power-up still waiting for the serial device is abandoned at once
        // when the modem is to be switched off.
        abandon = mTarget == EModemState::Disabled &&
                  (state == EModemState::Initializing || state == EModemState::Enabling);
    }
    if (abandon) {
        state = EModemState::Disabling;
        EnterState(state);
    }
    const EStepResult result = RunStep(state);
    if (result == EStepResult::Done) {
        if (const auto reached = Reached(state)) {
            EnterState(*reached);
        }
        if (const auto next = NextTowardsTarget()) {
            EnterState(*next);
        }
    } else if (result == EStepResult::Failed && state == EModemState::Error) {
        mStopped.store(true);
    } else if (result == EStepResult::Failed) {
        // A procedure stopped for a switch-off is no failure to recover from.
        bool switchOff = false;
        {
            std::lock_guard lock(mMutex);
            switchOff = mTarget == EModemState::Disabled &&
                        (state == EModemState::Initializing || state == EModemState::Enabling);
        }
        EnterState(switchOff ? EModemState::Disabling : EModemState::Error);
    }
    ScheduleNextStep();
}

void CModemStateMachine::ScheduleNextStep()
{
    std::lock_guard lock(mMutex);
    if (mStopped.load()) {
        mStepCall.reset();
        return;
    }
    mStepCall = mWorker->AddCall([this] { Update(); }, mWorker->Clock().Now() + mPeriod);
}
