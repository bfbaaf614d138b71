#include "bench/ipc/placeholderactionhandler.h"

#include "statemachines/tarvhsmevents.h"
#include "platform/log/log.h"

#include <stdexcept>

CTarvHsmPlaceholderActionHandler::CTarvHsmPlaceholderActionHandler(std::shared_ptr<IClock> clock)
    : CWorker("tarvhsm", clock)
{
    // CWorker is a virtual base: a derived class that does not construct it
    // itself (an inherited constructor does not) gets a worker on the real
    // clock, and a test's manual clock would silently be ignored.
    if (clock && ClockPtr() != clock) {
        throw std::logic_error("CTarvHsmPlaceholderActionHandler: derived classes must construct CWorker with the clock");
    }
    Start();
}

CTarvHsmPlaceholderActionHandler::~CTarvHsmPlaceholderActionHandler()
{
    Stop();
}

void CTarvHsmPlaceholderActionHandler::IntDisableAll()
{
    TLOG_FUNCTION();
    Post<TarvHsm::IntDisablingDone>();
}

void CTarvHsmPlaceholderActionHandler::IntEnableNetworks()
{
    TLOG_FUNCTION();
    Post<TarvHsm::IntEnablingDone>();
}

void CTarvHsmPlaceholderActionHandler::IntHandleError()
{
    TLOG_FUNCTION();
    ArmRecovery();
}

void CTarvHsmPlaceholderActionHandler::IntInitializeNetwork()
{
    TLOG_FUNCTION();
    Post<TarvHsm::IntInitializingDone>();
}

void CTarvHsmPlaceholderActionHandler::IntInitializeNtp()
{
    TLOG_FUNCTION();
    Post<TarvHsm::IntNtpInitialized>();
}

void CTarvHsmPlaceholderActionHandler::IntReinitialize()
{
    TLOG_FUNCTION();
    // No further retries while this one runs; a failure here posts IntError,
    // and entering Error arms the next retry with a longer delay.
    CancelRecovery();
    RecoverySucceeded();
    Post<TarvHsm::IntRecoveringDone>();
}

void CTarvHsmPlaceholderActionHandler::IntSetTarvEnabled()
{
    TLOG_FUNCTION();
    Post<TarvHsm::IntTarvIfInit>();
}

void CTarvHsmPlaceholderActionHandler::IntSetTarvNotEnabled()
{
    TLOG_FUNCTION();
}

void CTarvHsmPlaceholderActionHandler::IntStartNtpd()
{
    TLOG_FUNCTION();
}

void CTarvHsmPlaceholderActionHandler::IntStopRecovery()
{
    TLOG_FUNCTION();
    mRecovery.Cancel();
}

void CTarvHsmPlaceholderActionHandler::IntStopWorkerThread()
{
    TLOG_FUNCTION();
    CancelAliveTimer();
    mRecovery.Cancel();
    Sync();
    Post<TarvHsm::IntStopWorkerThreadDone>();
}

void CTarvHsmPlaceholderActionHandler::ArmRecovery()
{
    mRecovery.Arm(*this, [this] {
        try {
            Post<TarvHsm::IntRecoveryDone>();
        } catch (const std::logic_error&) {
            TLOG_WARN("Recovery retry dropped: no state machine");
        }
    });
}

void CTarvHsmPlaceholderActionHandler::CancelRecovery()
{
    mRecovery.Cancel();
}

void CTarvHsmPlaceholderActionHandler::RecoverySucceeded()
{
    mRecovery.Reset();
}
