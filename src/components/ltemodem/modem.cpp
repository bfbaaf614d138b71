#include "src/components/ltemodem/modem.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "src/components/ltemodem/modemcommands.h"
#include "src/components/ltemodem/modemvalidation.h"

#include <stdexcept>
#include <utility>

namespace Modem {

namespace {

using namespace std::chrono_literals;
namespace Cmd = Commands;

constexpr auto kPowerKeyPulse = 1s;
constexpr auto kFastShutdownPulse = 100ms;
constexpr auto kSimPollInterval = 1s;
constexpr auto kSimPollLimit = 15s;

std::string Join(const std::vector<std::string>& values)
{
    std::string text;
    for (const auto& value : values) {
        if (!text.empty()) {
            text += ',';
        }
        text += value;
    }
    return text;
}

bool Contains(std::string_view list, std::initializer_list<std::string_view> names)
{
    for (const auto name : names) {
        if (list == name) {
            return true;
        }
    }
    return false;
}

const std::string& ApnForLog(const std::string& apn)
{
    static const std::string empty = "Empty APN";
    return apn.empty() ? empty : apn;
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
    for (CSysfsGpio* line : {mPowerKey.get(), mFastShutdown.get()}) {
        if (!line->SetDirection(CSysfsGpio::kDirectionOut) || !line->SetValue(0)) {
            TLOG_ERROR("Modem control line GPIO {} could not be set up", line->Number());
        }
    }
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

void CModem::Pulse(CSysfsGpio& line, IClock::duration width)
{
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
    if (mAt->SendCommand(Cmd::kFastPowerOff).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to enable fast shutdown");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
}

EAtResult CModem::IsEcmMode(bool& ecm)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kUsbNetQuery);
    if (response.result != EAtResult::Ok || response.values.empty()) {
        TLOG_ERROR("Could not obtain modem ECM status");
        return EAtResult::Error;
    }
    ecm = response.values[0] == "ecm";
    return EAtResult::Ok;
}

EAtResult CModem::ConfigureEcm()
{
    TLOG_FUNCTION();
    TLOG_INFO("Configuring BG95 for ECM mode...");
    if (mAt->SendCommand(Cmd::kUsbNetEcm).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to configure BG95 to ECM mode.");
        return EAtResult::Error;
    }
    TLOG_INFO("ECM configured. Powering down...");
    return EAtResult::Ok;
}

EAtResult CModem::SetAvailableBands()
{
    TLOG_FUNCTION();
    const AtResponse query = mAt->SendCommand(Cmd::kBandQuery);
    const auto& v = query.values;
    if (query.result == EAtResult::Ok && v.size() == 4 && v[1] == kBandGsm && v[2] == kBandEmtc &&
        v[3] == kBandNbIot) {
        TLOG_INFO("Bands already configured in the modem, skipping bands configuration.");
        return EAtResult::Ok;
    }
    const std::string masks = std::string(kBandGsm) + "," + std::string(kBandEmtc) + "," + std::string(kBandNbIot);
    return mAt->SendCommand(Cmd::kBandSet, masks).result == EAtResult::Ok ? EAtResult::Ok : EAtResult::Error;
}

EAtResult CModem::SetTechPriority()
{
    TLOG_FUNCTION();
    const AtResponse query = mAt->SendCommand(Cmd::kScanSeqQuery);
    if (query.result == EAtResult::Ok && query.values.size() == 2 && query.values[1] == kTechScanSequence) {
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
    const AtResponse query = mAt->SendCommand(Cmd::kIotModeQuery);
    if (query.result != EAtResult::Ok || query.values.size() < 2) {
        TLOG_ERROR("Could not get current NB-IoT status");
        return EAtResult::Error;
    }
    const std::string wanted = nbIot ? "2" : "0";
    if (query.values[1] == wanted) {
        TLOG_INFO("NB-IoT preference already configured in the modem, skipping NB-IoT configuration");
        return EAtResult::Ok;
    }
    if (mAt->SendCommand(Cmd::kIotModeSet, wanted).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to set preferred NB-IoT mode");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
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
    if (!CModemValidation::IsQuotableText(settings.apn) || !CModemValidation::IsQuotableText(settings.user) ||
        !CModemValidation::IsQuotableText(settings.password)) {
        TLOG_ERROR("Failed to apply APN settings");
        return EAtResult::Error;
    }
    TLOG_INFO("Configure custom APN: {}", ApnForLog(settings.apn));
    const std::string arguments = settings.ipTypeCode + ",\"" + settings.apn + "\",\"" + settings.user + "\",\"" +
                                  settings.password + "\"," + settings.authCode;
    if (mAt->SendCommand(Cmd::kApnSet, arguments).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to apply APN settings");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
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
    if (ipType && !(ipCode = CModemValidation::IpTypeCode(*ipType))) {
        TLOG_ERROR("APN IP Type value '{}' invalid", *ipType);
        valid = false;
    }
    if (apn && apn->size() > kMaxApnLength) {
        TLOG_ERROR("APN too long, max: {}, got: {}", kMaxApnLength, apn->size());
        valid = false;
    }
    if (user && user->size() > kMaxApnCredentialLength) {
        TLOG_ERROR("APN User too long, max: {}, got: {}", kMaxApnCredentialLength, user->size());
        valid = false;
    }
    if (password && password->size() > kMaxApnCredentialLength) {
        TLOG_ERROR("APN Password too long, max: {}, got: {}", kMaxApnCredentialLength, password->size());
        valid = false;
    }
    if (auth && !(authCode = CModemValidation::AuthCode(*auth))) {
        TLOG_ERROR("APN Auth value '{}' invalid", *auth);
        valid = false;
    }
    // The three texts travel inside double quotes of the AT command.
    if (apn && !CModemValidation::IsQuotableText(*apn)) {
        TLOG_ERROR("APN value contains a double quote or a control character");
        valid = false;
    }
    if (user && !CModemValidation::IsQuotableText(*user)) {
        TLOG_ERROR("APN User value contains a double quote or a control character");
        valid = false;
    }
    if (password && !CModemValidation::IsQuotableText(*password)) {
        TLOG_ERROR("APN Password value contains a double quote or a control character");
        valid = false;
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
    const auto& v = response.values;
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not obtain active PDP context, resp: [{}]", Join(v));
        return EAtResult::Error;
    }
    if (v.empty()) {
        context = PdpContext {};
        return EAtResult::Ok;
    }
    if (v.size() < 4) {
        TLOG_ERROR("Unexpected response size for PDP context, resp: [{}]", Join(v));
        return EAtResult::Error;
    }
    context.active = v[0] == "+QIACT:1" && v[1] == "1";
    context.type = v[2] == "1" ? "IPv4" : "IPv6";
    context.ipAddress = v[3];
    return EAtResult::Ok;
}

EAtResult CModem::ActivatePdpContext()
{
    TLOG_FUNCTION();
    if (mAt->SendCommand(Cmd::kPdpActivate).result != EAtResult::Ok) {
        TLOG_ERROR("Could not activate PDP context");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
}

EAtResult CModem::IsRoamingEnabled(bool& enabled)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kRoamingRead);
    if (response.result != EAtResult::Ok || response.values.empty()) {
        TLOG_ERROR("Failed to read qcmap_config file from modem");
        return EAtResult::Error;
    }
    enabled = response.values[0].find("Roaming=1") != std::string::npos;
    return EAtResult::Ok;
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
        TLOG_ERROR("Could not delete roaming. File contents: {}", response.values[0]);
    }
    return EAtResult::Error;
}

EAtResult CModem::GetSimEffect(bool& enabled)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kSimEffectQuery);
    if (response.result != EAtResult::Ok || response.values.size() < 2) {
        TLOG_ERROR("Failed to read sim effect status from modem");
        return EAtResult::Error;
    }
    enabled = response.values[1] == "1";
    return EAtResult::Ok;
}

EAtResult CModem::DisableSimEffect()
{
    TLOG_FUNCTION();
    if (mAt->SendCommand(Cmd::kSimEffectSet, "0").result != EAtResult::Ok) {
        TLOG_ERROR("Failed to disable sim effect");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
}

EAtResult CModem::ReadIdentity(const AtCommand& command, CDiagnosticsSignal<std::string>& signal, std::string& value)
{
    const AtResponse response = mAt->SendCommand(command);
    if (response.result != EAtResult::Ok || response.values.empty()) {
        signal.Send(std::string(kUnreadValue));
        return EAtResult::Error;
    }
    value = response.values[0];
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
    const AtResponse response = mAt->SendCommand(Cmd::kImsi);
    if (response.result != EAtResult::Ok || response.values.empty()) {
        TLOG_ERROR("Could not obtain IMSI");
        return EAtResult::Error;
    }
    imsi = response.values[0];
    return EAtResult::Ok;
}

EAtResult CModem::GetTemperatures(std::vector<std::int32_t>& temperatures)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kTemperatures);
    if (response.result != EAtResult::Ok || response.values.empty()) {
        TLOG_ERROR("Could not obtain temperatures");
        return EAtResult::Error;
    }
    std::vector<std::int32_t> values;
    for (const auto& text : response.values) {
        std::int32_t value = 0;
        std::string error;
        switch (CModemValidation::ToInt32(text, value, error)) {
        case CModemValidation::EConversion::Ok:
            values.push_back(value);
            break;
        case CModemValidation::EConversion::NoNumber:
            TLOG_ERROR("Failed to convert temperature value. Content: [{}], Error: {}", Join(response.values), error);
            return EAtResult::Error;
        case CModemValidation::EConversion::OutOfRange:
            TLOG_ERROR("Temperature value out of range. Content: [{}], Error: {}", Join(response.values), error);
            return EAtResult::Error;
        }
    }
    temperatures = std::move(values);
    return EAtResult::Ok;
}

EAtResult CModem::IsSimInserted(bool& inserted)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kSimStatus);
    if (response.result != EAtResult::Ok || response.values.size() < 2) {
        TLOG_ERROR("Could not obtain SIM insertion status");
        return EAtResult::Error;
    }
    inserted = response.values[1] == "1";
    return EAtResult::Ok;
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

EAtResult CModem::EnterPin(const std::string& pin)
{
    const AtResponse attempts = mAt->SendCommand(Cmd::kPinAttempts);
    std::int32_t left = 0;
    std::string error;
    if (attempts.result != EAtResult::Ok || attempts.values.size() < 2 ||
        CModemValidation::ToInt32(attempts.values[1], left, error) != CModemValidation::EConversion::Ok) {
        TLOG_ERROR("Could not read the remaining SIM PIN attempts, PIN not sent");
        return EAtResult::Error;
    }
    if (left <= 1) {
        TLOG_ERROR("SIM PIN not sent: {} attempt(s) left, a wrong PIN would lock the SIM", left);
        return EAtResult::SimError;
    }
    if (mAt->SendCommand(Cmd::kPinEnter, pin).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to unlock SIM with provided PIN");
        return EAtResult::SimError;
    }
    return EAtResult::Ok;
}

EAtResult CModem::UnlockSim()
{
    TLOG_FUNCTION();
    const AtResponse status = mAt->SendCommand(Cmd::kPinStatus);
    if (status.result != EAtResult::Ok || status.values.empty()) {
        TLOG_ERROR("Failed to retrieve SIM PIN status, do not proceed with unlock procedure");
        return EAtResult::Error;
    }
    if (status.values[0] == "READY") {
        TLOG_INFO("SIM PIN not required, ready");
        return EAtResult::Ok;
    }
    if (status.values[0] == "SIMPIN") {
        TLOG_INFO("SIM PIN required, unlocking...");
        const auto pin = ReadConfig(TarvLteSimPin);
        if (!pin || pin->empty()) {
            TLOG_ERROR("SIM PIN required, but empty in settings");
            return EAtResult::SimError;
        }
        if (!CModemValidation::IsSimPin(*pin)) {
            TLOG_ERROR("SIM PIN in settings is not 4 to 8 decimal digits, not sent");
            return EAtResult::SimError;
        }
        const EAtResult entered = EnterPin(*pin);
        if (entered != EAtResult::Ok) {
            return entered;
        }
    }
    const AtResponse after = mAt->SendCommand(Cmd::kPinStatus);
    if (after.result != EAtResult::Ok || after.values.empty()) {
        TLOG_ERROR("Failed to retrieve SIM PIN status, do not proceed with unlock procedure");
        return EAtResult::SimError;
    }
    if (after.values[0] == "READY") {
        TLOG_INFO("SIM successfully unlocked");
        return EAtResult::Ok;
    }
    TLOG_ERROR("SIM not unlocked, status: [{}]", after.values[0]);
    return EAtResult::SimError;
}

EAtResult CModem::SoftResetModem()
{
    TLOG_FUNCTION();
    if (mAt->SendCommand(Cmd::kRadioOff).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to set functionality to minimum");
        return EAtResult::Error;
    }
    if (mAt->SendCommand(Cmd::kRadioOn).result != EAtResult::Ok) {
        TLOG_ERROR("Failed to set functionality to full");
        return EAtResult::Error;
    }
    const auto start = mClock->Now();
    while (true) {
        bool inserted = false;
        if (IsSimInserted(inserted) == EAtResult::Ok && inserted) {
            TLOG_INFO("Soft reset successful");
            return EAtResult::Ok;
        }
        if (mClock->Now() - start >= kSimPollLimit) {
            TLOG_ERROR("SIM not detected after soft reset and timeout");
            return EAtResult::Error;
        }
        TLOG_DEBUG("Pending SIM insertion status after soft reset");
        mClock->SleepFor(kSimPollInterval);
    }
}

EAtResult CModem::SetSmsTextMode()
{
    TLOG_FUNCTION();
    const AtResponse query = mAt->SendCommand(Cmd::kSmsFormatQuery);
    if (query.result != EAtResult::Ok || query.values.empty()) {
        TLOG_ERROR("Could not get SMS Message format type");
        return EAtResult::Error;
    }
    if (query.values[0] == "1") {
        TLOG_INFO("SMS format already set to text mode");
        return EAtResult::Ok;
    }
    if (mAt->SendCommand(Cmd::kSmsTextMode).result != EAtResult::Ok) {
        TLOG_ERROR("Could not set SMS Message format to text mode");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
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
    if (mAt->SendCommand(Cmd::kSmsDeleteAll).result != EAtResult::Ok) {
        TLOG_ERROR("Could not delete SMS Messages");
        return EAtResult::Error;
    }
    return EAtResult::Ok;
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
    const AtResponse response = mAt->SendCommand(Cmd::kDnsQuery);
    if (response.result != EAtResult::Ok || response.values.size() < 3) {
        TLOG_ERROR("Could not obtain mobile network DNS server addresses");
        servers.clear();
        return EAtResult::Error;
    }
    servers = {response.values[1], response.values[2]};
    return EAtResult::Ok;
}

EAtResult CModem::GetCarrier(std::string& carrier)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kOperator);
    if (response.values.size() < 3) {
        TLOG_ERROR("Could not obtain carrier, resp: [{}]", Join(response.values));
        carrier.clear();
        return EAtResult::Error;
    }
    carrier = response.values[2];
    return EAtResult::Ok;
}

EAtResult CModem::GetRegistrationStatus(const AtCommand& command, const char* name, ERegistrationState& state)
{
    const AtResponse response = mAt->SendCommand(command);
    if (response.result != EAtResult::Ok || response.values.size() < 2) {
        TLOG_ERROR("Could not get {} registration status", name);
        return response.result == EAtResult::Ok ? EAtResult::Error : response.result;
    }
    const std::string& value = response.values[1];
    if (value.size() != 1 || value[0] < '0' || value[0] > '5') {
        TLOG_ERROR("Unknown {} registration status [{}]", name, value);
        return EAtResult::Error;
    }
    state = static_cast<ERegistrationState>(value[0] - '0');
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
    const auto& v = response.values;
    if (response.result != EAtResult::Ok || v.empty()) {
        TLOG_ERROR("Could not get signal strength");
        return EAtResult::Error;
    }
    info.technology = v[0];
    if (info.technology == "NOSERVICE") {
        TLOG_DEBUG("No service");
        return EAtResult::Ok;
    }
    const bool lte = Contains(info.technology, {"eMTC", "NBIoT"});
    if (!lte && !Contains(info.technology, {"GSM", "GPRS", "EDGE"})) {
        TLOG_ERROR("Unknown mobile technology: {}", info.technology);
        return EAtResult::Error;
    }
    if (v.size() < 2) {
        TLOG_ERROR("Signal strength for {} missing", info.technology);
        return EAtResult::Error;
    }
    std::vector<std::int32_t*> targets {&info.rssi};
    if (lte && v.size() >= 5) {
        targets.insert(targets.end(), {&info.rsrp, &info.sinr, &info.rsrq});
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        std::string error;
        switch (CModemValidation::ToInt32(v[i + 1], *targets[i], error)) {
        case CModemValidation::EConversion::Ok:
            break;
        case CModemValidation::EConversion::NoNumber:
            TLOG_ERROR("Failed to convert signal strength value. Content: [{}], Error: {}", Join(v), error);
            return EAtResult::Error;
        case CModemValidation::EConversion::OutOfRange:
            TLOG_ERROR("Signal strength value out of range. Content: [{}], Error: {}", Join(v), error);
            return EAtResult::Error;
        }
    }
    if (lte && v.size() < 5) {
        TLOG_ERROR("Additional signal quality for {} missing", info.technology);
    }
    return EAtResult::Ok;
}

EAtResult CModem::GetNetworkInfo(SignalInfo& info)
{
    TLOG_FUNCTION();
    const AtResponse response = mAt->SendCommand(Cmd::kNetworkInfo);
    const auto& v = response.values;
    if (response.result != EAtResult::Ok || v.empty()) {
        TLOG_ERROR("Could not get network info, contents: [{}]", Join(v));
        return EAtResult::Error;
    }
    info.technology = v[0];
    if (info.technology == "NoService") {
        TLOG_DEBUG("No service");
        return EAtResult::Ok;
    }
    if (v.size() < 4) {
        TLOG_ERROR("Additional network info for {} missing", info.technology);
        return EAtResult::Error;
    }
    info.band = v[2];
    info.channel = v[3];
    return EAtResult::Ok;
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
