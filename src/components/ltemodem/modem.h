#pragma once
// The cellular modem's command set over the AT channel, and its two control
// lines: the power key (GPIO 74) and the fast-shutdown line (GPIO 75).

#include "platform/ipc/diagnosticssignal.h"
#include "platform/sysfs/sysfsgpio.h"
#include "platform/worker/iclock.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/ltemodem/iathandler.h"
#include "src/components/ltemodem/imodem.h"
#include "src/components/ltemodem/simaccess.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Modem {

class CModem final : public IModem {
public:
    static constexpr int kPowerKeyGpio = 74;
    static constexpr int kFastShutdownGpio = 75;
    static constexpr std::string_view kTechScanSequence = "020103";
    static constexpr std::string_view kBandGsm = "0x3";
    static constexpr std::string_view kBandEmtc = "0x8080085";
    static constexpr std::string_view kBandNbIot = "0x8080085";
    static constexpr std::size_t kMaxApnLength = 100;
    static constexpr std::size_t kMaxApnCredentialLength = 127;
    static constexpr std::string_view kUnreadValue = "Unknown: Failed to read";

    // Sets both control lines to output and drives them low. No argument may be null.
    CModem(std::shared_ptr<ITarvConfig> config, std::unique_ptr<IAtHandler> atHandler,
           std::unique_ptr<CSysfsGpio> powerKey, std::unique_ptr<CSysfsGpio> fastShutdown,
           std::shared_ptr<IClock> clock = IClock::Steady());

    bool IsSerialPresent() override;
    bool InitializeSerial() override;
    void CloseSerial() override;
    void TogglePower() override;
    void FastShutdown() override;
    EAtResult ConfigureEcm() override;
    EAtResult EnableFastShutdown() override;
    EAtResult IsEcmMode(bool& ecm) override;
    EAtResult SoftResetModem() override;
    EAtResult SetAvailableBands() override;
    EAtResult SetTechPriority() override;
    EAtResult SetApn(const ApnSettings& settings) override;
    EAtResult GetPdpContext(PdpContext& context) override;
    EAtResult ActivatePdpContext() override;
    EAtResult IsRoamingEnabled(bool& enabled) override;
    EAtResult DeleteRoamingConfigFile() override;
    EAtResult ConfigureNbIot() override;
    EAtResult GetSimEffect(bool& enabled) override;
    EAtResult DisableSimEffect() override;
    EAtResult GetModemFirmwareVersion(std::string& version) override;
    EAtResult GetImei(std::string& imei) override;
    EAtResult GetTemperatures(std::vector<std::int32_t>& temperatures) override;
    EAtResult InitializeSim() override;
    EAtResult UnlockSim() override;
    EAtResult IsSimInserted(bool& inserted) override;
    EAtResult GetIccid(std::string& iccid) override;
    EAtResult GetImsi(std::string& imsi) override;
    EAtResult SetSmsTextMode() override;
    EAtResult SetSmsStorage() override;
    EAtResult DeleteSmsMsgs() override;
    EAtResult DeleteReadSmsMsgs() override;
    EAtResult GetSmsMsg(std::vector<std::string>& messages) override;
    EAtResult GetDnsServers(std::vector<std::string>& servers) override;
    EAtResult GetLteRegistrationStatus(ERegistrationState& state) override;
    EAtResult GetEgprsRegistrationStatus(ERegistrationState& state) override;
    unsigned ConsecutiveTimeouts() override;
    EAtResult GetSignalInfo(SignalInfo& info) override;
    EAtResult GetCarrier(std::string& carrier) override;
    std::optional<ApnSettings> GetApnSettings() override;
    bool IsSmsEnabled() override;
    void SetSmsEnabled(bool enabled) override;
    SModemEvents TakeEvents() override;

private:
    // Takes note of the unsolicited codes that matter above the channel.
    void OnUnsolicited(const std::string& line);
    EAtResult GetSignalQuality(SignalInfo& info);
    EAtResult GetNetworkInfo(SignalInfo& info);
    EAtResult GetRegistrationStatus(const AtCommand& command, const char* name, ERegistrationState& state);
    // Sends the identity read and publishes its first value, or the unread value.
    EAtResult ReadIdentity(const AtCommand& command, CDiagnosticsSignal<std::string>& signal, std::string& value);
    // The configuration text, or nullopt (logged) when it cannot be read.
    std::optional<std::string> ReadConfig(EConfigKey key);
    // Both control lines as outputs, low; false (logged) when one failed.
    bool SetUpLines();
    // Sets the lines up first when they are not yet.
    void Pulse(CSysfsGpio& line, IClock::duration width);

    // Set once at construction.
    const std::shared_ptr<ITarvConfig> mConfig;
    const std::unique_ptr<IAtHandler> mAt;
    const std::unique_ptr<CSysfsGpio> mPowerKey;
    const std::unique_ptr<CSysfsGpio> mFastShutdown;
    const std::shared_ptr<IClock> mClock;
    // Set in the constructor, on mAt.
    std::unique_ptr<CSimAccess> mSim;
    // The state machine's worker and the mains-lost handler may pulse at once.
    std::mutex mLinesMutex;
    bool mLinesReady = false; // guarded by mLinesMutex
    // Written by the modem state machine's worker, read by the LTE handler:
    // atomic, no other guard.
    std::atomic<bool> mSmsEnabled {false};
    // Set by the AT channel's event handlers on the thread of an exchange,
    // taken by the LTE handler: atomic, no other guard.
    std::atomic<bool> mNewSms {false};
    std::atomic<bool> mContextLost {false};
    std::atomic<bool> mRestarted {false};
    // Each signal guards itself.
    CDiagnosticsSignal<std::string> mFirmwareSignal;
    CDiagnosticsSignal<std::string> mImeiSignal;
    CDiagnosticsSignal<std::string> mIccidSignal;
    CDiagnosticsSignal<bool> mInvalidConfigSignal;
};

} // namespace Modem
