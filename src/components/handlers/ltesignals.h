#pragma once
// The LTE handler's diagnostic signals about the modem and its network:
// carrier, technology, signal strength, IMSI, NB-IoT use, and the reduced
// signals (registration, signal quality, band, channel, temperatures) that
// go out when they change and once an hour, so that a collector that
// restarted learns them.

#include "diagnostics/reduceddiagnosticssignal.h"
#include "platform/ipc/diagnosticssignal.h"
#include "platform/worker/iclock.h"
#include "src/components/ltemodem/imodem.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Any thread.
class CLteSignals {
public:
    explicit CLteSignals(const std::shared_ptr<IClock>& clock);

    void SendStatus(const std::string& carrier, const Modem::SignalInfo& signal, const std::string& imsi);
    // The two registration texts (only what changed, or after an hour).
    void SendRegistration(const std::string& lte, const std::string& gsm);
    // The signal quality, band, channel and temperatures (as for the registration).
    void SendExtended(const Modem::SignalInfo& signal, const std::vector<std::int32_t>& temperatures);

private:
    // The signals guard their values with their own locks.
    CDiagnosticsSignal<std::string> mCarrier;
    CDiagnosticsSignal<std::string> mTechnology;
    CDiagnosticsSignal<std::int32_t> mRssi;
    CDiagnosticsSignal<std::string> mImsi;
    CDiagnosticsSignal<bool> mNbIot;
    // The reduced signals keep their last send: they are guarded by mReducedMutex.
    std::mutex mReducedMutex;
    CReducedDiagnosticsSignal<std::string> mLteRegistration;
    CReducedDiagnosticsSignal<std::string> mGsmRegistration;
    CReducedDiagnosticsSignal<std::int32_t> mRsrp;
    CReducedDiagnosticsSignal<std::int32_t> mSinr;
    CReducedDiagnosticsSignal<std::int32_t> mRsrq;
    CReducedDiagnosticsSignal<std::string> mBand;
    CReducedDiagnosticsSignal<std::string> mChannel;
    CReducedDiagnosticsSignal<std::vector<std::int32_t>> mTemperatures;
};
