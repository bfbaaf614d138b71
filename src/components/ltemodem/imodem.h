#pragma once
// The cellular modem's vocabulary: each operation sends one or a few fixed
// AT commands, checks the answer and returns typed values. No operation
// throws; every one reports an EAtResult (Ok, Error, or the channel's own
// SerialError / Timeout where stated, SimError from the SIM operations)
// and returns values through its out-parameters. Not thread-safe by itself:
// the AT channel below serialises the command exchanges of its callers.

#include "src/components/ltemodem/atcommand.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Modem {

// Access point settings as the modem takes them; the two codes are the
// modem's numeric parameters as text.
struct ApnSettings {
    std::string apn;
    std::string user;
    std::string password;
    std::string authCode;
    std::string ipTypeCode;
};

struct PdpContext {
    bool active = false;
    std::string type; // "IPv4" or "IPv6"
    std::string ipAddress;
};

// kNotAvailable marks a number the modem did not report.
struct SignalInfo {
    static constexpr std::int32_t kNotAvailable = -1000;
    std::string technology;
    std::string band;
    std::string channel;
    std::int32_t rssi = kNotAvailable;
    std::int32_t rsrp = kNotAvailable;
    std::int32_t sinr = kNotAvailable;
    std::int32_t rsrq = kNotAvailable;
};

// Network registration status as 3GPP numbers it.
enum class ERegistrationState : int {
    NotRegistered = 0,
    RegisteredHome = 1,
    Searching = 2,
    Denied = 3,
    Unknown = 4,
    RegisteredRoaming = 5,
};

// What the modem reported on its own since the last TakeEvents.
struct SModemEvents {
    bool newSms = false;      // "+CMTI": a message was stored
    bool contextLost = false; // "+QIURC: \"pdpdeact\"": the network ended the data context
    bool restarted = false;   // the banner or an echo behind an open port: the module started again
};

class IModem {
public:
    virtual ~IModem() = default;

    // Whether the modem's serial device exists (true while it is powered).
    virtual bool IsSerialPresent() = 0;
    // Closes the AT channel and opens it again (banner wait, echo off).
    virtual bool InitializeSerial() = 0;
    // Closes the AT channel at once, from any thread: a command in flight
    // ends with SerialError instead of running to its time limit.
    virtual void CloseSerial() = 0;
    // One pulse on the power key: switches a powered modem off, an unpowered one on.
    virtual void TogglePower() = 0;
    // One pulse on the fast-shutdown line (mains lost).
    virtual void FastShutdown() = 0;
    // Switches the USB network function to ECM; takes effect after a power cycle.
    virtual EAtResult ConfigureEcm() = 0;
    virtual EAtResult EnableFastShutdown() = 0;
    virtual EAtResult IsEcmMode(bool& ecm) = 0;
    // Radio off and on, then waits up to 15 s for the SIM.
    virtual EAtResult SoftResetModem() = 0;
    // The following Set/Configure operations query first and write only when
    // the modem's value differs.
    virtual EAtResult SetAvailableBands() = 0;
    virtual EAtResult SetTechPriority() = 0;
    virtual EAtResult SetApn(const ApnSettings& settings) = 0;
    virtual EAtResult GetPdpContext(PdpContext& context) = 0;
    virtual EAtResult ActivatePdpContext() = 0;
    virtual EAtResult IsRoamingEnabled(bool& enabled) = 0;
    virtual EAtResult DeleteRoamingConfigFile() = 0;
    virtual EAtResult ConfigureNbIot() = 0;
    virtual EAtResult GetSimEffect(bool& enabled) = 0;
    virtual EAtResult DisableSimEffect() = 0;
    // Identity reads also publish their value (or "Unknown: Failed to read").
    virtual EAtResult GetModemFirmwareVersion(std::string& version) = 0;
    virtual EAtResult GetImei(std::string& imei) = 0;
    virtual EAtResult GetTemperatures(std::vector<std::int32_t>& temperatures) = 0;
    // SIM present and its ICCID readable; SimError without a SIM. The SIM
    // commands repeat a "SIM busy" answer for up to 10 s: the SIM is still
    // starting for a while after the modem's banner.
    virtual EAtResult InitializeSim() = 0;
    // Enters the configured PIN when the SIM asks for it; SimError when the
    // SIM stays locked, the PIN is missing or unusable, or only one attempt
    // is left before the SIM would lock.
    virtual EAtResult UnlockSim() = 0;
    virtual EAtResult IsSimInserted(bool& inserted) = 0;
    virtual EAtResult GetIccid(std::string& iccid) = 0;
    virtual EAtResult GetImsi(std::string& imsi) = 0;
    virtual EAtResult SetSmsTextMode() = 0;
    virtual EAtResult SetSmsStorage() = 0;
    // Every stored message, read or not.
    virtual EAtResult DeleteSmsMsgs() = 0;
    // The messages that were listed (a listing marks them read).
    virtual EAtResult DeleteReadSmsMsgs() = 0;
    // Bodies of the unread messages.
    virtual EAtResult GetSmsMsg(std::vector<std::string>& messages) = 0;
    virtual EAtResult GetDnsServers(std::vector<std::string>& servers) = 0;
    // Registration queries pass SerialError and Timeout through.
    virtual EAtResult GetLteRegistrationStatus(ERegistrationState& state) = 0;
    virtual EAtResult GetEgprsRegistrationStatus(ERegistrationState& state) = 0;
    // Commands in a row that ended without their final line, counted by the
    // AT channel over every command (0 again after an answer or a new
    // initialisation of the channel).
    virtual unsigned ConsecutiveTimeouts() = 0;
    virtual EAtResult GetSignalInfo(SignalInfo& info) = 0;
    virtual EAtResult GetCarrier(std::string& carrier) = 0;
    // The configured access point settings with their codes; nullopt (after
    // an error line and the "Invalid Config Value Error" signal) when a
    // value is invalid.
    virtual std::optional<ApnSettings> GetApnSettings() = 0;
    virtual bool IsSmsEnabled() = 0;
    virtual void SetSmsEnabled(bool enabled) = 0;
    // Returns the events seen since the last call and forgets them.
    virtual SModemEvents TakeEvents() = 0;
};

} // namespace Modem
