#pragma once
// Handler of the cellular interface lte0: asks the modem's state machine to
// enable or disable the modem, then supervises it every 2 s on its own
// worker: registration (with a growing back-off after a denial), the data
// context, the network's DNS servers, signal and identity. It brings lte0
// up and down when connectivity changes, triggers a modem recovery after
// serial errors or repeated AT time-outs, publishes the modem's diagnostic
// signals and carries out a reboot requested by an authorised SMS.

#include "platform/worker/worker.h"
#include "src/components/handlers/itarvltecontrol.h"
#include "src/components/handlers/ltednsservers.h"
#include "src/components/handlers/ltesignals.h"
#include "src/components/handlers/ltesmsreboot.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/ltemodem/imodem.h"
#include "src/components/ltemodem/imodemstatemachine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

class CTarvLteHandler : public CTarvConnectionHandlerBase, public ITarvLteControl {
public:
    static constexpr std::chrono::seconds kUpdatePeriod{2};
    static constexpr std::chrono::seconds kStateTimeout{3};
    // Identity and data context are read again after this long.
    static constexpr std::chrono::seconds kRereadInterval{300};
    // Registration retry after a denial: 11 minutes, doubled up to 1408.
    static constexpr std::int64_t kFirstRetryMinutes = 11;
    static constexpr std::int64_t kMaxDoublingMinutes = 1379;
    // Data context activation back-off: 15 s, doubled up to 150 s.
    static constexpr std::chrono::seconds kFirstActivationRetry{15};
    static constexpr std::chrono::seconds kMaxActivationRetry{150};
    static constexpr std::chrono::minutes kRebootRequestLimit = CLteSmsReboot::kRequestLimit;
    // A registration check that times out triggers a recovery once the AT
    // channel counts this many commands in a row without their final line:
    // a mute modem reaches it by its fifth check (two queries each).
    static constexpr unsigned kTimeoutThreshold = 10;

    // Uses the LTE DNS manager (required) and the board controller of the parts.
    CTarvLteHandler(const SHandlerParts& parts, std::shared_ptr<Modem::IModem> modem,
                    std::unique_ptr<IModemStateMachine> stateMachine);
    ~CTarvLteHandler() override;

    void Initialize() override;
    void Enable(bool& ok) override;
    void Disable(bool& ok) override;
    ipc::MNetStatus GetStatus() override;
    void SendDiagSignals() override;
    void SendExtendedDiagSignals() override;
    void FastShutdown() override;
    void UpdateModemSettings(bool& ok) override;

    // Returns once every update pass (and retry) due so far has run.
    void Sync() { mWorker.Sync(); }

private:
    // What the periodic update publishes; copied under mStatusMutex.
    struct SStatus {
        bool connected = false;
        bool statusChanged = true;
        Modem::SignalInfo signal;
        std::string carrier;
        Modem::PdpContext context;
        std::vector<std::string> dnsServers;
        std::string imei, imsi, iccid;
        std::vector<std::int32_t> temperatures;
    };

    void EnableCallback();
    void StartUpdates();
    // Ends the periodic update without waiting for a pass in flight: the
    // pass stops at its next check of mHalted.
    void StopUpdates();
    // Reacts to what the modem reported on its own; false when the pass ends.
    bool HandleModemEvents(const Modem::SModemEvents& events, SStatus& current);
    // Marks lte0 disconnected without another ifdown (done by the caller).
    void MarkDisconnected();
    void UpdateModemStatus();
    // Signal, carrier, data context and DNS servers of a registered modem.
    void ReadNetwork(const SStatus& current, SStatus& next);
    // Stores what the pass read; the DNS servers go to the resolver.
    void StoreStatus(bool registered, const SStatus& next);
    void UpdateNetworkInterfaceStatus();
    bool CheckRegistration();
    // Sends the two registration texts (only what changed).
    void SendRegistration(const std::string& lte, const std::string& gsm);
    void HandleDenial();
    void RetryRegistration();
    void ResetRegistrationRetry();
    Modem::PdpContext SuperviseDataContext();
    void TriggerRecovery();
    static void ClearStatus(SStatus& status);

    // Set once at construction.
    const std::shared_ptr<Modem::IModem> mModem;
    // Reset first in the destructor, so that no callback of its worker runs late.
    std::unique_ptr<IModemStateMachine> mStateMachine;
    // Set once at construction; it keeps no state of its own.
    const CLteDnsServers mDnsServers;

    // The signals guard their values with their own locks.
    CLteSignals mSignals;
    CDiagnosticsSignal<std::string> mConnectivitySignal;

    mutable std::shared_mutex mStatusMutex;
    SStatus mStatus; // guarded by mStatusMutex

    std::mutex mUpdateMutex;
    CWorker::CallHandle mUpdate; // guarded by mUpdateMutex: the periodic update
    // Set when the updates are stopped (disable, recovery), cleared when they
    // start; read by the pass between modem commands. Atomic, no other guard.
    std::atomic<bool> mHalted{true};
    // Whether LTE is wanted (Enable) or not (Disable): a modem that arrives in
    // Enabled after a disable does not bring lte0 up. Atomic, no other guard.
    std::atomic<bool> mWanted{false};
    // Held while a disable clears mWanted and while a recovery checks it and
    // sets its target, so that no recovery follows a disable.
    std::mutex mTargetMutex;

    // Used on mWorker's thread only.
    bool mDenied = false;
    CWorker::CallHandle mRetry;
    std::int64_t mRetryMinutes = kFirstRetryMinutes;
    IClock::time_point mLastImsiRead{};
    IClock::time_point mLastDataCheck{};
    IClock::time_point mLastActivationTry{};
    std::chrono::seconds mActivationRetry = kFirstActivationRetry;
    CLteSmsReboot mSmsReboot;

    // Runs the periodic update, the registration retry and the recovery
    // trigger, one at a time; its thread starts with the first Enable.
    // Last member: its thread stops (in the destructor) before the rest goes.
    CWorker mWorker;
};
