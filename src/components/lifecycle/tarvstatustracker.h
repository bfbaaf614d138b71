#pragma once
// Status tracking of the enabled daemon: the status last notified for each
// present interface, a poll every second that notifies clients of real
// changes, and the connectivity event with its damping of flapping links
// (six events per name, then one "unstable" warning, then silence until an
// hour passes without a change of that name).
//
// Every member below is confined to the worker's thread: the public
// operations hand their work to the worker and wait for it, so the poll, the
// change report, the reset timers and the filling of the map never run at
// the same time.

#include "platform/ipc/diagnosticssignal.h"
#include "platform/ipc/itarvclient.h"
#include "platform/worker/worker.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CTarvStatusTracker {
public:
    static constexpr std::chrono::seconds kPollPeriod{1};
    static constexpr std::chrono::hours kQuietResetTime{1};
    // Changes of one name reported before it is deemed unstable.
    static constexpr std::uint8_t kReportedChanges = 6;
    // A signal strength change this large (absolute) counts as a change.
    static constexpr int kSignalStrengthStep = 6;
    // Name of the cellular technology in the damping counters.
    static inline const std::string kLteTechName = "ELteTech";

    // onCriticalError is called on the worker when a handler throws
    // CTarvException during a poll.
    CTarvStatusTracker(CWorker& worker, std::shared_ptr<ITarvClient> statusSink, std::function<void()> onCriticalError);
    CTarvStatusTracker(const CTarvStatusTracker&) = delete;
    CTarvStatusTracker& operator=(const CTarvStatusTracker&) = delete;

    // Records the current status of handlers not tracked yet, notifies the
    // stored status of every tracked one, and makes sure the poll runs.
    // Blocks until done; exceptions of the handlers reach the caller.
    void Start(const std::vector<std::shared_ptr<CTarvConnectionHandlerBase>>& handlers);
    // Stops the poll and every reset timer (counters keep their values).
    void CancelTimers();

private:
    struct SEntry {
        std::shared_ptr<CTarvConnectionHandlerBase> handler;
        ipc::MNetStatus lastStatus;
    };

    void Poll();
    void PollEntry(SEntry& entry, std::vector<std::string>& connectionChanges);
    std::string ConnectivitySummary();
    void ReportChange(const std::string& text, const std::vector<std::string>& names);
    void Notify(const ipc::MNetStatus& status);
    void CancelTimersOnWorker();

    CWorker& mWorker;
    const std::shared_ptr<ITarvClient> mStatusSink;
    const std::function<void()> mOnCriticalError;
    // Guarded by its own lock.
    CDiagnosticsSignal<std::string> mConnectivitySignal;

    // Worker thread only. Ordered by handler address: the order carries no meaning.
    std::map<const CTarvConnectionHandlerBase*, SEntry> mLastStatus;
    std::map<std::string, std::uint8_t> mChangeCounters;      // worker thread only
    std::map<std::string, CWorker::CallHandle> mResetTimers;  // worker thread only
    CWorker::CallHandle mPollCall;                            // worker thread only
};
