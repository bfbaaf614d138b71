#include "src/components/lifecycle/tarvstatustracker.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/communicationexception.h"
#include "platform/log/log.h"
#include "platform/toolbox/join.h"
#include "src/components/system/netstatusequality.h"
#include "src/components/system/tarvexception.h"

#include <cstdlib>

namespace {

int SignalStrengthOf(const ipc::MNetStatus& status)
{
    return status.has_signalstrength() ? status.signalstrength() : 0;
}

} // namespace

CTarvStatusTracker::CTarvStatusTracker(CWorker& worker, std::shared_ptr<ITarvClient> statusSink,
                                       std::function<void()> onCriticalError)
    : mWorker(worker),
      mStatusSink(std::move(statusSink)),
      mOnCriticalError(std::move(onCriticalError)),
      mConnectivitySignal(&Signals::kConnectivityStatusChanged)
{
}

void CTarvStatusTracker::Start(const std::vector<std::shared_ptr<CTarvConnectionHandlerBase>>& handlers)
{
    mWorker.BlockingCall([this, &handlers] {
        for (const auto& handler : handlers) {
            if (!mLastStatus.contains(handler.get())) {
                mLastStatus.emplace(handler.get(), SEntry{handler, handler->GetStatus()});
            }
        }
        for (auto& [key, entry] : mLastStatus) {
            Notify(entry.lastStatus);
            entry.handler->SendDiagSignals();
        }
        // A poll that is still planted keeps running; a finished one is replaced.
        if (mPollCall && !mPollCall->IsFinished()) {
            return;
        }
        if (mPollCall) {
            mPollCall->Cancel();
        }
        mPollCall = mWorker.AddCall([this] { Poll(); }, mWorker.Clock().Now(), kPollPeriod);
    });
}

void CTarvStatusTracker::CancelTimers()
{
    mWorker.BlockingCall([this] { CancelTimersOnWorker(); });
}

void CTarvStatusTracker::CancelTimersOnWorker()
{
    if (mPollCall) {
        mPollCall->Cancel();
    }
    for (auto& [name, timer] : mResetTimers) {
        timer->Cancel();
    }
}

void CTarvStatusTracker::Poll()
{
    std::vector<std::string> connectionChanges;
    try {
        for (auto& [key, entry] : mLastStatus) {
            PollEntry(entry, connectionChanges);
        }
        if (!connectionChanges.empty()) {
            ReportChange(ConnectivitySummary(), connectionChanges);
        }
    } catch (const CTarvException&) {
        mOnCriticalError();
    } catch (const std::exception& e) {
        // This runs on the worker: an escaping exception would end the daemon.
        // The next poll tries again.
        TLOG_ERROR("Status poll failed: {}", e.what());
    }
}

void CTarvStatusTracker::PollEntry(SEntry& entry, std::vector<std::string>& connectionChanges)
{
    const ipc::MNetStatus current = entry.handler->GetStatus();
    const ipc::MNetStatus& last = entry.lastStatus;
    const std::string lastTech = last.lteinfo().technology();
    const std::string currentTech = current.lteinfo().technology();
    const bool connectionChanged = current.connectionstate() != last.connectionstate();

    const bool changed = !(current == last) ||
                         std::abs(SignalStrengthOf(current) - SignalStrengthOf(last)) >= kSignalStrengthStep;
    if (changed) {
        Notify(current);
        entry.handler->SendDiagSignals();
        entry.lastStatus = current;
    }
    if (connectionChanged) {
        connectionChanges.push_back(ipc::EIfName_Name(entry.handler->GetInterfaceId()));
    }
    if (lastTech != currentTech) {
        ReportChange(fmt::format("Mobile technology type changed from {} to {}", lastTech, currentTech),
                     {kLteTechName});
    }
    entry.handler->SendExtendedDiagSignals();
}

std::string CTarvStatusTracker::ConnectivitySummary()
{
    std::vector<std::string> connected;
    std::vector<std::string> disconnected;
    for (auto& [key, entry] : mLastStatus) {
        const ipc::MNetStatus status = entry.handler->GetStatus();
        const std::string name = ipc::EIfName_Name(entry.handler->GetInterfaceId());
        (status.connectionstate() == ipc::MNetStatus::EConnected ? connected : disconnected).push_back(name);
    }
    const auto names = [](const std::vector<std::string>& list) { return list.empty() ? "None" : Join(list); };
    return fmt::format("Connected net interfaces {} Disconnected net interfaces {}", names(connected),
                       names(disconnected));
}

void CTarvStatusTracker::ReportChange(const std::string& text, const std::vector<std::string>& names)
{
    bool send = false;
    for (const auto& name : names) {
        TLOG_TRACE("Change in {} status detected", name);
        std::uint8_t& counter = mChangeCounters[name];
        if (counter < kReportedChanges) {
            ++counter;
            send = true;
        } else if (counter == kReportedChanges) {
            ++counter;
            mConnectivitySignal.Send(fmt::format("Unstable connection detected on {}, stopped logging {} network "
                                                 "changes for at least the following 1 hour.",
                                                 name, name));
        } else {
            TLOG_TRACE("Event not triggered because {} connection is deemed unstable.", name);
        }
        // Each change restarts the hour after which the name counts as quiet.
        auto& timer = mResetTimers[name];
        if (timer) {
            timer->Cancel();
        }
        timer = mWorker.AddCall([this, name] { mChangeCounters[name] = 0; },
                                mWorker.Clock().Now() + kQuietResetTime);
    }
    if (send) {
        mConnectivitySignal.Send(text);
    }
}

void CTarvStatusTracker::Notify(const ipc::MNetStatus& status)
{
    // A client that cannot be reached loses this notification, not the others.
    try {
        mStatusSink->NotifyStatus(status);
    } catch (const Rpc::CommunicationException& e) {
        TLOG_ERROR("Failed to send notification. Error: '{}'.", e.what());
    }
}
