#include "src/components/ltemodem/modem.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
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
constexpr auto kSimPollInterval = 1s;
constexpr auto kSimPollLimit = 15s;
// The SIM answers "busy" for a while after the banner (about 1.5 s).
constexpr std::string_view kSimBusy = "+CME ERROR: 14";
constexpr auto kSimBusyInterval = 500ms;
constexpr auto kSimBusyLimit = 10s;



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

AtResponse CModem::SendSimCommand(const AtCommand& command, const std::string& arguments)
{
    const auto deadline = mClock->Now() + kSimBusyLimit;
    while (true) {
        AtResponse response = mAt->SendCommand(command, arguments);
        if (response.result != EAtResult::Error || response.final != kSimBusy || mClock->Now() >= deadline) {
            return response;
        }
        TLOG_INFO("SIM busy, [{}] again in {} ms", command.command, kSimBusyInterval.count());
        mClock->SleepFor(kSimBusyInterval);
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
    if (!CTarvValidation::IsQuotableText(settings.apn) || !CTarvValidation::IsQuotableText(settings.user) ||
        !CTarvValidation::IsQuotableText(settings.password)) {
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
    if (ipType && !(ipCode = CTarvValidation::ModemIpTypeCode(*ipType))) {
        TLOG_ERROR("APN IP Type value '{}' invalid", CTarvValidation::Printable(*ipType));
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
    if (auth && !(authCode = CTarvValidation::ModemAuthCode(*auth))) {
        TLOG_ERROR("APN Auth value '{}' invalid", CTarvValidation::Printable(*auth));
        valid = false;
    }
    // The three texts travel inside double quotes of the AT command.
    if (apn && !CTarvValidation::IsQuotableText(*apn)) {
        TLOG_ERROR("APN value contains a double quote or a control character");
        valid = false;
    }
    if (user && !CTarvValidation::IsQuotableText(*user)) {
        TLOG_ERROR("APN User value contains a double quote or a control character");
        valid = false;
    }
    if (password && !CTarvValidation::IsQuotableText(*password)) {
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
    if (response.result != EAtResult::Ok) {
        TLOG_ERROR("Could not obtain active PDP context, resp: [{}]", JoinValues(response.values));
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
    const AtResponse response = SendSimCommand(command);
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
    const AtResponse response = SendSimCommand(Cmd::kImsi);
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
    TLOG_FUNCTION();
    const AtResponse response = SendSimCommand(Cmd::kSimStatus);
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
    const AtResponse attempts = SendSimCommand(Cmd::kPinAttempts);
    std::int32_t left = 0;
    std::string error;
    if (attempts.result != EAtResult::Ok || attempts.values.size() < 2 ||
        CTarvValidation::ToInt32(attempts.values[1], left, error) != CTarvValidation::EConversion::Ok) {
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
    const AtResponse status = SendSimCommand(Cmd::kPinStatus);
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
        if (!CTarvValidation::IsSimPin(*pin)) {
            TLOG_ERROR("SIM PIN in settings is not 4 to 8 decimal digits, not sent");
            return EAtResult::SimError;
        }
        const EAtResult entered = EnterPin(*pin);
        if (entered != EAtResult::Ok) {
            return entered;
        }
    }
    const AtResponse after = SendSimCommand(Cmd::kPinStatus);
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

EAtResult CModem::DeleteReadSmsMsgs()
{
    TLOG_FUNCTION();
    if (mAt->SendCommand(Cmd::kSmsDeleteRead).result != EAtResult::Ok) {
        TLOG_ERROR("Could not delete the handled SMS Messages");
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
        TLOG_ERROR("Could not obtain carrier, resp: [{}]", JoinValues(response.values));
        carrier.clear();
        return EAtResult::Error;
    }
    carrier = response.values[2];
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
        TLOG_ERROR("Could not get network info, contents: [{}]", JoinValues(response.values));
        return EAtResult::Error;
    }
    return ParseQnwinfo(response.values, info) ? EAtResult::Ok : EAtResult::Error;
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
