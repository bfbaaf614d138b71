#include "src/components/ltemodem/modem.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "platform/toolbox/join.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/ltemodem/modemanswers.h"
#include "src/components/ltemodem/modemcommands.h"

#include <mutex>
#include <stdexcept>
#include <utility>

namespace Modem {

namespace {

using namespace std::chrono_literals;
namespace Cmd = Commands;

constexpr auto kPowerKeyPulse = 1s;
constexpr auto kFastShutdownPulse = 100ms;
const std::string& ApnForLog(const std::string& apn)
{
    static const std::string empty = "Empty APN";
    return apn.empty() ? empty : apn;
}

// Sends the command; anything but Ok is logged with the failure text and
// gives Error.
EAtResult Send(IAtHandler& at, const AtCommand& command, const char* failure, const std::string& arguments = {})
{
    if (at.SendCommand(command, arguments).result != EAtResult::Ok) {
        TLOG_ERROR("{}", failure);
        return EAtResult::Error;
    }
    return EAtResult::Ok;
}

} // namespace

CModem::CModem(std::shared_ptr<ITarvConfig> config, std::unique_ptr<IAtHandler> atHandler,
               std::unique_ptr<CSysfsGpio> powerKey, std::unique_ptr<CSysfsGpio> fastShutdown,
               std::shared_ptr<IClock> clock)
    : mConfig(std::move(config))
    , mAt(std::move(atHandler))
    , mPowerKey(std::move(powerKey))
    , mFastShutdown(std::move(fastShutdown))
    , mClock(std::move(clock))
    , mFirmwareSignal(&Signals::kLteFirmwareVersion)
    , mImeiSignal(&Signals::kLteImei)
    , mIccidSignal(&Signals::kLteIccid)
    , mInvalidConfigSignal(&Signals::kInvalidConfigValueError)
{
    if (!mConfig || !mAt || !mPowerKey || !mFastShutdown || !mClock) {
        throw std::invalid_argument("CModem needs configuration, AT channel, both control lines and a clock");
    }
    mSim = std::make_unique<CSimAccess>(*mAt, mClock);
    // The control lines are set up at the first pulse: a board without a
    // modem never touches them.
    mAt->SetEventHandlers([this](const std::string& line) { OnUnsolicited(line); },
                          [this] { mRestarted.store(true); });
}

void CModem::OnUnsolicited(const std::string& line)
{
    if (line.starts_with("+CMTI:")) {
        mNewSms.store(true);
    } else if (line.starts_with("+QIURC:") && line.find("\"pdpdeact\"") != std::string::npos) {
        mContextLost.store(true);
    }
}

SModemEvents CModem::TakeEvents()
{
    return {mNewSms.exchange(false), mContextLost.exchange(false), mRestarted.exchange(false)};
}

bool CModem::IsSerialPresent()
{
    return mAt->IsSerialPresent();
}

bool CModem::InitializeSerial()
{
    TLOG_FUNCTION();
    if (!mAt->CloseSerial()) {
        return false;
    }
    return mAt->InitializeSerial();
}

bool CModem::SetUpLines()
{
    bool ready = true;
    for (CSysfsGpio* line : {mPowerKey.get(), mFastShutdown.get()}) {
        if (!line->SetDirection(CSysfsGpio::kDirectionOut) || !line->SetValue(0)) {
            TLOG_ERROR("Modem control line GPIO {} could not be set up", line->Number());
            ready = false;
        }
    }
    return ready;
}

void CModem::CloseSerial()
{
    mAt->CloseSerial();
}

void CModem::Pulse(CSysfsGpio& line, IClock::duration width)
{
    {
        std::lock_guard lock(mLinesMutex);
        if (!mLinesReady) {
            mLinesReady = SetUpLines();
        }
    }
    if (!line.SetValue(1)) {
        TLOG_ERROR("Modem control line GPIO {} could not be raised", line.Number());
    }
    mClock->SleepFor(width);
    if (!line.SetValue(0)) {
        TLOG_ERROR("Modem control line GPIO {} could not be lowered", line.Number());
    }
}

void CModem::TogglePower()
{
    TLOG_FUNCTION();
    Pulse(*mPowerKey, kPowerKeyPulse);
}

void CModem::FastShutdown()
{
    TLOG_FUNCTION();
    Pulse(*mFastShutdown, kFastShutdownPulse);
    TLOG_INFO("BG95 powered down (Fast shutdown).");
}

EAtResult CModem::EnableFastShutdown()
{
    TLOG_FUNCTION();
    return Send(*mAt, Cmd::kFastPowerOff, "Failed to enable fast shutdown");
}

EAtResult CModem::IsEcmMode(bool& ecm)
{
    TLOG_FUNCTION();
    return Decode(mAt->SendCommand(Cmd::kUsbNetQuery), ParseUsbnetEcm, ecm, "Could not obtain modem ECM status");
}

EAtResult CModem::ConfigureEcm()
{
    TLOG_FUNCTION();
    TLOG_INFO("Configuring BG95 for ECM mode...");
    if (Send(*mAt, Cmd::kUsbNetEcm, "Failed to configure BG95 to ECM mode.") != EAtResult::Ok) {
        return EAtResult::Error;
    }
    TLOG_INFO("ECM configured. Powering down...");
    return EAtResult::Ok;
}

EAtResult CModem::SetAvailableBands()
{
    TLOG_FUNCTION();
    const AtResponse query = mAt->SendCommand(Cmd::kBandQuery);
    const std::vector<std::string> wanted {std::string(kBandGsm), std::string(kBandEmtc), std::string(kBandNbIot)};
    if (query.result == EAtResult::Ok && ParseBands(query.values) == wanted) {
        TLOG_INFO("Bands already configured in the modem, skipping bands configuration.");
        return EAtResult::Ok;
    }
    const std::string masks = wanted[0] + "," + wanted[1] + "," + wanted[2];
    return mAt->SendCommand(Cmd::kBandSet, masks).result == EAtResult::Ok ? EAtResult::Ok : EAtResult::Error;
}

EAtResult CModem::SetTechPriority()
{
    TLOG_FUNCTION();
    const AtResponse query = mAt->SendCommand(Cmd::kScanSeqQuery);
    if (query.result == EAtResult::Ok && ParseScanSeq(query.values) == kTechScanSequence) {
        TLOG_INFO("Tech priority already configured in the modem, skipping tech priority configuration.");
        return EAtResult::Ok;
    }
    return mAt->SendCommand(Cmd::kScanSeqSet, std::string(kTechScanSequence)).result == EAtResult::Ok
               ? EAtResult::Ok
               : EAtResult::Error;
}

std::optional<std::string> CModem::ReadConfig(EConfigKey key)
{
    try {
        return mConfig->GetString(key);
    } catch (const std::exception& e) {
        TLOG_ERROR("Could not read configuration key {}: {}", static_cast<int>(key), e.what());
        return std::nullopt;
    }
}

EAtResult CModem::ConfigureNbIot()
{
    TLOG_FUNCTION();
    bool nbIot = false;
    try {
        nbIot = mConfig->GetBool(TarvLteNbIotEnable);
    } catch (const std::exception& e) {
        TLOG_ERROR("Could not read configuration key {}: {}", static_cast<int>(TarvLteNbIotEnable), e.what());
        return EAtResult::Error;
    }
    std::string mode;
    if (Decode(mAt->SendCommand(Cmd::kIotModeQuery), ParseIotOpMode, mode, "Could not get current NB-IoT status") !=
        EAtResult::Ok) {
        return EAtResult::Error;
    }
    const std::string wanted = nbIot ? "2" : "0";
    if (mode == wanted) {
        TLOG_INFO("NB-IoT preference already configured in the modem, skipping NB-IoT configuration");
        return EAtResult::Ok;
    }
    return Send(*mAt, Cmd::kIotModeSet, "Failed to set preferred NB-IoT mode", wanted);
}

EAtResult CModem::SetApn(const ApnSettings& settings)
{
    TLOG_FUNCTION();
    const AtResponse query = mAt->SendCommand(Cmd::kApnQuery);
    const std::vector<std::string> wanted {settings.ipTypeCode, settings.apn, settings.user, settings.password,
                                           settings.authCode};
    if (query.result == EAtResult::Ok && query.values == wanted) {
        TLOG_INFO("APN already set to {} in the modem, skipping APN configuration.", ApnForLog(settings.apn));
        return EAtResult::Ok;
    }
    // Values that could break out of their quotes never get here: the
    // settings come from GetApnSettings, which refuses them.
    if (!CTarvValidation::IsQuotableText(settings.apn) || !CTarvValidation::IsQuotableText(settings.user) ||
        !CTarvValidation::IsQuotableText(settings.password)) {
        TLOG_ERROR("Failed to apply APN settings");
        return EAtResult::Error;
    }
    TLOG_INFO("Configure custom APN: {}", ApnForLog(settings.apn));
    const std::string arguments = settings.ipTypeCode + ",\"" + settings.apn + "\",\"" + settings.user + "\",\"" +
                                  settings.password + "\"," + settings.authCode;
    return Send(*mAt, Cmd::kApnSet, "Failed to apply APN settings", arguments);
}

std::optional<ApnSettings> CModem::GetApnSettings()
{
    TLOG_FUNCTION();
    const auto ipType = ReadConfig(TarvLteApnIp);
    const auto apn = ReadConfig(TarvLteApn);
    const auto user = ReadConfig(TarvLteApnUser);
    const auto password = ReadConfig(TarvLteApnPass);
    const auto auth = ReadConfig(TarvLteApnAuth);
    bool valid = ipType && apn && user && password && auth;
    std::optional<std::string> ipCode;
    std::optional<std::string> authCode;
    if (ipType && !(ipCode = CTarvValidation::ModemIpTypeCode(*ipType))) {
        TLOG_ERROR("APN IP Type value '{}' invalid", CTarvValidation::Printable(*ipType));
        valid = false;
    }
    const struct {
        const std::optional<std::string>& value;
        const char* name;
        std::size_t maxLength;
    } texts[] = {{apn, "APN", kMaxApnLength},
                 {user, "APN User", kMaxApnCredentialLength},
                 {password, "APN Password", kMaxApnCredentialLength}};
    for (const auto& text : texts) {
        if (text.value && text.value->size() > text.maxLength) {
            TLOG_ERROR("{} too long, max: {}, got: {}", text.name, text.maxLength, text.value->size());
            valid = false;
        }
    }
    if (auth && !(authCode = CTarvValidation::ModemAuthCode(*auth))) {
        TLOG_ERROR("APN Auth value '{}' invalid", CTarvValidation::Printable(*auth));
        valid = false;
    }
    // The three texts travel inside double quotes of the AT command.
    for (const auto& text : texts) {
        if (text.value && !CTarvValidation::IsQuotableText(*text.value)) {
            TLOG_ERROR("{} value contains a double quote or a control character", text.name);
            valid = false;
        }
    }
    if (!valid) {
        mInvalidConfigSignal.Send(true);
        return std::nullopt;
    }
    return ApnSettings {*apn, *user, *password, *authCode, *ipCode};
}

EAtResult CModem::GetPdpContext(PdpContext& context)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kPdpQuery);
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not obtain active PDP context, resp: [{}]", Join(response.values));
        return EAtResult::Error;
    }
    const auto parsed = ParseQiact(response.values);
    if (!parsed) {
        return EAtResult::Error;
    }
    context = *parsed;
    return EAtResult::Ok;
}

EAtResult CModem::ActivatePdpContext()
{
    TLOG_FUNCTION();
    return Send(*mAt, Cmd::kPdpActivate, "Could not activate PDP context");
}

EAtResult CModem::IsRoamingEnabled(bool& enabled)
{
    TLOG_FUNCTION();
    return Decode(mAt->SendCommand(Cmd::kRoamingRead), ParseRoaming, enabled,
                  "Failed to read qcmap_config file from modem");
}

EAtResult CModem::DeleteRoamingConfigFile()
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kRoamingDelete);
    if (response.result == EAtResult::Ok) {
        return EAtResult::Ok;
    }
    if (response.values.empty()) {
        TLOG_ERROR("Could not delete roaming, command failed");
    } else {
        TLOG_ERROR("Could not delete roaming. File contents: {}", Join(response.values));
    }
    return EAtResult::Error;
}

EAtResult CModem::GetSimEffect(bool& enabled)
{
    TLOG_FUNCTION();
    return Decode(mAt->SendCommand(Cmd::kSimEffectQuery), ParseSimEffect, enabled,
                  "Failed to read sim effect status from modem");
}

EAtResult CModem::DisableSimEffect()
{
    TLOG_FUNCTION();
    return Send(*mAt, Cmd::kSimEffectSet, "Failed to disable sim effect", "0");
}

EAtResult CModem::ReadIdentity(const AtCommand& command, CDiagnosticsSignal<std::string>& signal, std::string& value)
{
    const AtResponse response = mSim->Send(command);
    const auto identity = response.result == EAtResult::Ok ? ParseIdentity(response.values) : std::nullopt;
    if (!identity) {
        signal.Send(std::string(kUnreadValue));
        return EAtResult::Error;
    }
    value = *identity;
    signal.Send(value);
    return EAtResult::Ok;
}

EAtResult CModem::GetModemFirmwareVersion(std::string& version)
{
    TLOG_FUNCTION();
    const EAtResult result = ReadIdentity(Cmd::kFirmware, mFirmwareSignal, version);
    if (result != EAtResult::Ok) {
        TLOG_WARN("Could not obtain firmware version");
    }
    return result;
}

EAtResult CModem::GetImei(std::string& imei)
{
    TLOG_FUNCTION();
    const EAtResult result = ReadIdentity(Cmd::kImei, mImeiSignal, imei);
    if (result != EAtResult::Ok) {
        TLOG_ERROR("Could not obtain IMEI");
    }
    return result;
}

EAtResult CModem::GetIccid(std::string& iccid)
{
    TLOG_FUNCTION();
    const EAtResult result = ReadIdentity(Cmd::kIccid, mIccidSignal, iccid);
    if (result != EAtResult::Ok) {
        TLOG_ERROR("Could not obtain ICCID");
    }
    return result;
}

EAtResult CModem::GetImsi(std::string& imsi)
{
    TLOG_FUNCTION();
    return Decode(mSim->Send(Cmd::kImsi), ParseIdentity, imsi, "Could not obtain IMSI");
}

EAtResult CModem::GetTemperatures(std::vector<std::int32_t>& temperatures)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kTemperatures);
    auto parsed = response.result == EAtResult::Ok ? ParseQtemp(response.values) : std::nullopt;
    if (!parsed) {
        if (response.result != EAtResult::Ok) {
            TLOG_ERROR("Could not obtain temperatures");
        }
        return EAtResult::Error;
    }
    temperatures = std::move(*parsed);
    return EAtResult::Ok;
}

EAtResult CModem::IsSimInserted(bool& inserted)
{
    return mSim->IsInserted(inserted);
}

EAtResult CModem::InitializeSim()
{
    TLOG_FUNCTION();
    bool inserted = false;
    if (IsSimInserted(inserted) != EAtResult::Ok) {
        TLOG_ERROR("Failed to get SIM insertion status");
        return EAtResult::Error;
    }
    if (!inserted) {
        TLOG_INFO("No SIM detected");
        return EAtResult::SimError;
    }
    TLOG_INFO("SIM present");
    std::string iccid;
    if (GetIccid(iccid) != EAtResult::Ok || iccid.empty()) {
        TLOG_ERROR("SIM ICCID read error");
        return EAtResult::Error;
    }
    TLOG_INFO("SIM ICCID: [{}]", iccid);
    return EAtResult::Ok;
}

EAtResult CModem::UnlockSim()
{
    return mSim->Unlock([this] { return ReadConfig(TarvLteSimPin); });
}

EAtResult CModem::SoftResetModem()
{
    TLOG_FUNCTION();
    if (Send(*mAt, Cmd::kRadioOff, "Failed to set functionality to minimum") != EAtResult::Ok ||
        Send(*mAt, Cmd::kRadioOn, "Failed to set functionality to full") != EAtResult::Ok) {
        return EAtResult::Error;
    }
    return mSim->AwaitAfterReset();
}

EAtResult CModem::SetSmsTextMode()
{
    TLOG_FUNCTION();
    bool text = false;
    if (Decode(mAt->SendCommand(Cmd::kSmsFormatQuery), ParseCmgfText, text, "Could not get SMS Message format type") !=
        EAtResult::Ok) {
        return EAtResult::Error;
    }
    if (text) {
        TLOG_INFO("SMS format already set to text mode");
        return EAtResult::Ok;
    }
    return Send(*mAt, Cmd::kSmsTextMode, "Could not set SMS Message format to text mode");
}

EAtResult CModem::SetSmsStorage()
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kSmsStorage);
    if (response.result != EAtResult::Ok || response.values.empty()) {
        TLOG_ERROR("Could not set SMS storage to SIM card");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
}

EAtResult CModem::DeleteSmsMsgs()
{
    TLOG_FUNCTION();
    return Send(*mAt, Cmd::kSmsDeleteAll, "Could not delete SMS Messages");
}

EAtResult CModem::DeleteReadSmsMsgs()
{
    TLOG_FUNCTION();
    return Send(*mAt, Cmd::kSmsDeleteRead, "Could not delete the handled SMS Messages");
}

EAtResult CModem::GetSmsMsg(std::vector<std::string>& messages)
{
    TLOG_FUNCTION();
    AtResponse response = mAt->SendCommand(Cmd::kSmsListUnread);
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not get SMS Messages");
        return EAtResult::Error;
    }
    messages = std::move(response.values);
    return EAtResult::Ok;
}

EAtResult CModem::GetDnsServers(std::vector<std::string>& servers)
{
    TLOG_FUNCTION();
    servers.clear();
    return Decode(mAt->SendCommand(Cmd::kDnsQuery), ParseQidnscfg, servers,
                  "Could not obtain mobile network DNS server addresses");
}

EAtResult CModem::GetCarrier(std::string& carrier)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kOperator);
    const auto parsed = ParseCops(response.values);
    if (!parsed) {
        TLOG_ERROR("Could not obtain carrier, resp: [{}]", Join(response.values));
        carrier.clear();
        return EAtResult::Error;
    }
    carrier = *parsed;
    return EAtResult::Ok;
}

EAtResult CModem::GetRegistrationStatus(const AtCommand& command, const char* name, ERegistrationState& state)
{
    const AtResponse response = mAt->SendCommand(command);
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not get {} registration status", name);
        return response.result;
    }
    const auto parsed = ParseRegistration(response.values, name);
    if (!parsed) {
        return EAtResult::Error;
    }
    state = *parsed;
    return EAtResult::Ok;
}

EAtResult CModem::GetLteRegistrationStatus(ERegistrationState& state)
{
    TLOG_FUNCTION();
    return GetRegistrationStatus(Cmd::kLteRegistration, "LTE", state);
}

EAtResult CModem::GetEgprsRegistrationStatus(ERegistrationState& state)
{
    TLOG_FUNCTION();
    return GetRegistrationStatus(Cmd::kEgprsRegistration, "EGPRS", state);
}

EAtResult CModem::GetSignalInfo(SignalInfo& info)
{
    TLOG_FUNCTION();
    info = SignalInfo {};
    const EAtResult quality = GetSignalQuality(info);
    const EAtResult network = GetNetworkInfo(info);
    return quality == EAtResult::Ok && network == EAtResult::Ok ? EAtResult::Ok : EAtResult::Error;
}

EAtResult CModem::GetSignalQuality(SignalInfo& info)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kSignalQuality);
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not get signal strength");
        return EAtResult::Error;
    }
    return ParseQcsq(response.values, info) ? EAtResult::Ok : EAtResult::Error;
}

EAtResult CModem::GetNetworkInfo(SignalInfo& info)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kNetworkInfo);
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not get network info, contents: [{}]", Join(response.values));
        return EAtResult::Error;
    }
    return ParseQnwinfo(response.values, info) ? EAtResult::Ok : EAtResult::Error;
}

unsigned CModem::ConsecutiveTimeouts()
{
    return mAt->ConsecutiveTimeouts();
}

bool CModem::IsSmsEnabled()
{
    return mSmsEnabled.load();
}

void CModem::SetSmsEnabled(bool enabled)
{
    mSmsEnabled.store(enabled);
}

} // namespace Modem
