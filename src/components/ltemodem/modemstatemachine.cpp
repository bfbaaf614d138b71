#include "src/components/ltemodem/modemstatemachine.h"

#include "platform/log/log.h"

#include <stdexcept>

namespace {

const char* TargetName(const std::optional<EModemState>& target)
{
    return target ? CModemStateMachine::EModemStateToString(*target) : "none";
}

} // namespace

CModemStateMachine::CModemStateMachine(std::unique_ptr<IModemStateMachineImpl> impl, std::shared_ptr<CWorker> worker,
                                       std::chrono::milliseconds period)
    : mImpl(std::move(impl))
    , mWorker(std::move(worker))
    , mPeriod(period)
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

void CModemStateMachine::SetState(EModemState state)
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    TLOG_DEBUG("Modem transitioned from state {} to {}.", EModemStateToString(mState), EModemStateToString(state));
    mState = state;
}

void CModemStateMachine::InvokeCallback(EModemState state)
{
    Callback callback;
    {
        std::lock_guard lock(mMutex);
        const auto it = mCallbacks.find(state);
        if (it != mCallbacks.end()) {
            callback = it->second;
        }
    }
    // Outside the lock: a callback may set the next target.
    if (callback) {
        callback(true);
    }
}

void CModemStateMachine::AdvanceToTarget()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    if (!mTarget) {
        return;
    }
    if (*mTarget == mState) {
        TLOG_DEBUG("Modem target state {} reached, removing target state", EModemStateToString(mState));
        mTarget.reset();
        mImpl->ClearErrors();
        return;
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
        return;
    }
    TLOG_DEBUG("Modem transitioned from state {} to {}.", EModemStateToString(mState), EModemStateToString(*next));
    mState = *next;
}

void CModemStateMachine::Update()
{
    TLOG_FUNCTION();
    EModemState state;
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
        if (mTarget == EModemState::Disabled &&
            (state == EModemState::Initializing || state == EModemState::Enabling)) {
            TLOG_DEBUG("Modem transitioned from state {} to {}.", EModemStateToString(state),
                       EModemStateToString(EModemState::Disabling));
            state = mState = EModemState::Disabling;
        }
    }

    int result = IModemStateMachineImpl::kDone;
    switch (state) {
    case EModemState::Initializing:
        result = mImpl->DoInitializing();
        if (result == IModemStateMachineImpl::kDone) {
            InvokeCallback(EModemState::Initialized);
            SetState(EModemState::Initialized);
        }
        break;
    case EModemState::Enabling:
        result = mImpl->DoEnabling();
        if (result == IModemStateMachineImpl::kDone) {
            InvokeCallback(EModemState::Enabled);
            SetState(EModemState::Enabled);
        }
        break;
    case EModemState::Disabling:
        result = mImpl->DoDisabling();
        if (result == IModemStateMachineImpl::kDone) {
            InvokeCallback(EModemState::Disabled);
            SetState(EModemState::Disabled);
        }
        break;
    case EModemState::Error:
        result = mImpl->DoError();
        if (result == IModemStateMachineImpl::kDone) {
            SetState(EModemState::Disabled);
        } else if (result == IModemStateMachineImpl::kFailed) {
            mStopped.store(true);
        }
        break;
    default:
        break;
    }
    if (result == IModemStateMachineImpl::kDone) {
        AdvanceToTarget();
    } else if (result == IModemStateMachineImpl::kFailed && state != EModemState::Error) {
        // A procedure stopped for a switch-off is no failure to recover from.
        bool switchOff = false;
        {
            std::lock_guard lock(mMutex);
            switchOff = mTarget == EModemState::Disabled &&
                        (state == EModemState::Initializing || state == EModemState::Enabling);
        }
        SetState(switchOff ? EModemState::Disabling : EModemState::Error);
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
