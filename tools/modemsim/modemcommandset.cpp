#include "tools/modemsim/modemcommandset.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

using AtText::IsDigits;
using AtText::Quote;
using AtText::ToInt;

SModemAnswer Lines(std::vector<std::string> lines)
{
    return SModemAnswer::Lines(std::move(lines));
}

SModemAnswer Cme(int code)
{
    return SModemAnswer::Cme(code);
}

SModemAnswer Cms(int code)
{
    return SModemAnswer::Cms(code);
}

bool IsRegistered(int state)
{
    return state == 1 || state == 5;
}

// Upper-cases everything outside double quotes, as the modem reads command
// names case-insensitively but keeps quoted text.
std::string NormaliseCase(const std::string& line)
{
    std::string out = line;
    bool quoted = false;
    for (char& c : out) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

} // namespace

CModemCommandSet::CModemCommandSet(const SModemScenario& scenario)
    : mScenario(scenario)
    , mSim(scenario.simPresent, scenario.pin, scenario.puk, scenario.pinAttempts, scenario.pukAttempts)
    , mSettings(scenario)
    , mApnIpType(scenario.apnIpType)
    , mApnName(scenario.apnName)
    , mApnUser(scenario.apnUser)
    , mApnPassword(scenario.apnPassword)
    , mApnAuth(scenario.apnAuth)
    , mRoamingFile(scenario.roamingFile)
    , mRegistration(scenario.registration)
    , mDns(scenario.dns)
    , mSms(scenario.smsTextMode)
{
    for (const auto& sms : scenario.sms) {
        mSms.Add(sms);
    }
}

void CModemCommandSet::PowerOn(TimePoint now)
{
    mEcho = true;
    mSms.PowerOn();
    mFunction = 1;
    mRadioOn = now;
    mPdpActive = false;
    // A modem that finds no roaming file at boot writes its default one.
    if (!mRoamingFile) {
        mRoamingFile = mScenario.roamingDefault;
    }
    mSim.PowerUp();
}

void CModemCommandSet::PowerOff()
{
    mRadioOn.reset();
    mPdpActive = false;
    mSim.PowerDown();
}

std::pair<int, int> CModemCommandSet::Registration(TimePoint now) const
{
    if (!mRadioOn || mSim.State() != CSimCard::EState::Ready || mRegistration.empty()) {
        return {0, 0};
    }
    const double seconds = std::chrono::duration<double>(now - *mRadioOn).count();
    std::pair<int, int> state {0, 0};
    for (const auto& step : mRegistration) {
        if (step.atSeconds > seconds) {
            break;
        }
        state = {step.lte, step.gsm};
    }
    return state;
}

bool CModemCommandSet::PdpActive(TimePoint now)
{
    // The network drops the context when registration is lost.
    const auto [lte, gsm] = Registration(now);
    if (mPdpActive && !IsRegistered(lte) && !IsRegistered(gsm)) {
        mPdpActive = false;
    }
    return mPdpActive;
}

std::string CModemCommandSet::Redact(const std::string& line)
{
    const std::string upper = NormaliseCase(line);
    if (upper.rfind("AT+CPIN=", 0) == 0) {
        return line.substr(0, 8) + "***";
    }
    if (upper.rfind("AT+QICSGP=", 0) == 0) {
        // The password is the fifth argument. Only a line that splits into
        // the six arguments of a set command keeps its head visible; the
        // quoting of anything else cannot be trusted to find it.
        const auto args = SplitArgs(line.substr(10));
        if (args && args->size() == 1) {
            return line;
        }
        if (args && args->size() == 6) {
            return line.substr(0, 10) + (*args)[0].text + "," + (*args)[1].text + "," + Quote((*args)[2].text) + "," +
                   Quote((*args)[3].text) + ",***";
        }
        return line.substr(0, 10) + "***";
    }
    return line;
}

std::optional<AtArgs> CModemCommandSet::SplitArgs(const std::string& text)
{
    AtArgs args;
    SAtArg current;
    bool inQuotes = false;
    bool closed = false; // a quoted value ended; only a comma may follow
    for (const char c : text) {
        if (inQuotes) {
            if (c == '"') {
                inQuotes = false;
                closed = true;
            } else {
                current.text += c;
            }
        } else if (c == ',') {
            args.push_back(current);
            current = SAtArg {};
            closed = false;
        } else if (c == '"') {
            if (closed || !current.text.empty()) {
                return std::nullopt;
            }
            inQuotes = true;
            current.quoted = true;
        } else if (closed) {
            return std::nullopt;
        } else if (c != ' ') {
            current.text += c;
        }
    }
    if (inQuotes) {
        return std::nullopt;
    }
    args.push_back(current);
    return args;
}

SModemAnswer CModemCommandSet::Execute(const std::string& rawLine, TimePoint now)
{
    const std::string line = NormaliseCase(rawLine);
    if (line.rfind("AT", 0) != 0) {
        return kError;
    }
    const std::string body = line.substr(2);
    if (body.empty() || body[0] != '+') {
        return Basic(body);
    }
    const auto end = body.find_first_of("=?");
    const std::string name = body.substr(0, end);
    if (end == std::string::npos) {
        return Extended(name, false, std::nullopt, now);
    }
    if (body[end] == '?') {
        return end + 1 == body.size() ? Extended(name, true, std::nullopt, now) : kError;
    }
    if (body.compare(end, std::string::npos, "=?") == 0) {
        return kOk; // test form: the command exists
    }
    // Quoted text keeps its case: split the received line, not the upper-cased one.
    const auto args = SplitArgs(rawLine.substr(2 + end + 1));
    if (!args) {
        return kError;
    }
    return Extended(name, false, args, now);
}

SModemAnswer CModemCommandSet::Basic(const std::string& name)
{
    if (name.empty() || name == "V1" || name == "Z" || name == "&W") {
        return kOk;
    }
    if (name == "E0" || name == "E1" || name == "E") {
        mEcho = name == "E1";
        return kOk;
    }
    if (name == "I") {
        return Lines({"Simulated", "LTE modem", "Revision: " + mScenario.firmware});
    }
    return kError;
}

SModemAnswer CModemCommandSet::Extended(const std::string& name, bool query, const std::optional<AtArgs>& args,
                                        TimePoint now)
{
    auto answer = IdentityCommand(name, query, args);
    if (!answer) {
        answer = SimCommand(name, query, args);
    }
    if (!answer) {
        answer = NetworkCommand(name, query, args, now);
    }
    if (!answer) {
        answer = DataCommand(name, query, args, now);
    }
    return answer ? *answer : kError;
}

std::optional<SModemAnswer> CModemCommandSet::IdentityCommand(const std::string& name, bool query,
                                                              const std::optional<AtArgs>& args)
{
    const bool plain = !query && !args;
    if (name == "+GSN" && plain) {
        return Lines({mScenario.imei});
    }
    if ((name == "+QGMR" || name == "+CGMR") && plain) {
        return Lines({mScenario.firmware});
    }
    if (name == "+QCFG" && args) {
        return mSettings.Qcfg(*args);
    }
    if (name == "+QCFGEXT" && args) {
        return mSettings.Qcfgext(*args);
    }
    if (name == "+QTEMP" && plain) {
        std::string text = "+QTEMP: ";
        for (std::size_t i = 0; i < mScenario.temperatures.size(); ++i) {
            text += (i == 0 ? "" : ",") + std::to_string(mScenario.temperatures[i]);
        }
        return Lines({text});
    }
    return std::nullopt;
}

std::optional<SModemAnswer> CModemCommandSet::SimCommand(const std::string& name, bool query,
                                                         const std::optional<AtArgs>& args)
{
    const bool plain = !query && !args;
    if (name == "+QSIMSTAT" && query) {
        const bool inserted = mSim.State() != CSimCard::EState::Absent;
        return Lines({std::string("+QSIMSTAT: 0,") + (inserted ? "1" : "0")});
    }
    if (name == "+CPIN") {
        return Cpin(query, args);
    }
    if (name == "+QPINC") {
        return Qpinc(query, args);
    }
    if (name == "+QCCID" && plain) {
        if (mSim.State() == CSimCard::EState::Absent) {
            return Cme(10);
        }
        return Lines({"+QCCID: " + mScenario.iccid});
    }
    if (name == "+CIMI" && plain) {
        if (auto notReady = SimNotReady(false)) {
            return *notReady;
        }
        return Lines({mScenario.imsi});
    }
    if (name == "+CMGF") {
        return mSms.Execute(name, query, args);
    }
    if (name == "+CPMS" || name == "+CMGL" || name == "+CMGR" || name == "+CMGD") {
        if (auto notReady = SimNotReady(true)) {
            return *notReady;
        }
        return mSms.Execute(name, query, args);
    }
    return std::nullopt;
}

std::optional<SModemAnswer> CModemCommandSet::NetworkCommand(const std::string& name, bool query,
                                                             const std::optional<AtArgs>& args, TimePoint now)
{
    const bool plain = !query && !args;
    if (name == "+COPS" && query) {
        return Operator(now);
    }
    if ((name == "+CEREG" || name == "+CGREG") && query) {
        const auto [lte, gsm] = Registration(now);
        return Lines({name + ": 0," + std::to_string(name == "+CEREG" ? lte : gsm)});
    }
    if ((name == "+CEREG" || name == "+CGREG") && args) {
        return ToInt((*args)[0].text, 0, 5) ? kOk : kError;
    }
    if (name == "+QCSQ" && plain) {
        return SignalQuality(now);
    }
    if (name == "+QNWINFO" && plain) {
        return NetworkInfo(now);
    }
    if (name == "+CFUN") {
        return Cfun(query, args, now);
    }
    return std::nullopt;
}

std::optional<SModemAnswer> CModemCommandSet::DataCommand(const std::string& name, bool query,
                                                          const std::optional<AtArgs>& args, TimePoint now)
{
    if (name == "+QIDNSCFG" && args) {
        return Qidnscfg(*args);
    }
    if (name == "+QIDEACT" && args) {
        if ((*args)[0].text != "1") {
            return kError;
        }
        mPdpActive = false;
        return kOk;
    }
    if (name == "+QIACT") {
        return Qiact(query, args, now);
    }
    if (name == "+QICSGP" && args) {
        return Qicsgp(*args);
    }
    if ((name == "+QFDEL" || name == "+QFDWL") && args) {
        return FileCommand(name, *args);
    }
    return std::nullopt;
}

std::optional<SModemAnswer> CModemCommandSet::SimNotReady(bool sms) const
{
    switch (mSim.State()) {
    case CSimCard::EState::Ready:
        return std::nullopt;
    case CSimCard::EState::Absent:
        return sms ? Cms(310) : Cme(10);
    case CSimCard::EState::PinRequired:
        return sms ? Cms(311) : Cme(11);
    case CSimCard::EState::PukRequired:
        return sms ? Cms(316) : Cme(12);
    case CSimCard::EState::Blocked:
        break;
    }
    return sms ? Cms(313) : Cme(13);
}

SModemAnswer CModemCommandSet::Cpin(bool query, const std::optional<AtArgs>& args)
{
    using EState = CSimCard::EState;
    const EState state = mSim.State();
    if (state == EState::Absent) {
        return Cme(10);
    }
    if (state == EState::Blocked) {
        return Cme(13);
    }
    if (query) {
        const char* text = state == EState::Ready ? "READY" : state == EState::PinRequired ? "SIM PIN" : "SIM PUK";
        return Lines({std::string("+CPIN: ") + text});
    }
    if (!args || args->size() > 2) {
        return kError;
    }
    const std::string& first = (*args)[0].text;
    if (state == EState::Ready) {
        return Cme(3);
    }
    if (state == EState::PinRequired) {
        // A malformed PIN never reaches the card and costs no attempt.
        if (args->size() != 1 || !IsDigits(first, 4, 8)) {
            return Cme(16);
        }
        return mSim.EnterPin(first) == CSimCard::EEntry::Accepted ? kOk : Cme(16);
    }
    if (args->size() != 2) {
        return Cme(12);
    }
    if (!IsDigits(first, 8, 8) || !IsDigits((*args)[1].text, 4, 8)) {
        return Cme(16);
    }
    return mSim.EnterPuk(first, (*args)[1].text) == CSimCard::EEntry::Accepted ? kOk : Cme(16);
}

SModemAnswer CModemCommandSet::Qpinc(bool query, const std::optional<AtArgs>& args)
{
    if (mSim.State() == CSimCard::EState::Absent) {
        return Cme(10);
    }
    const std::string sc = "+QPINC: \"SC\"," + std::to_string(mSim.PinAttemptsLeft()) + "," +
                           std::to_string(mSim.PukAttemptsLeft());
    const std::string p2 = "+QPINC: \"P2\",3,10";
    if (query) {
        return Lines({sc, p2});
    }
    if (!args || args->size() != 1) {
        return kError;
    }
    if ((*args)[0].text == "SC") {
        return Lines({sc});
    }
    return (*args)[0].text == "P2" ? Lines({p2}) : kError;
}

SModemAnswer CModemCommandSet::Cfun(bool query, const std::optional<AtArgs>& args, TimePoint now)
{
    if (query) {
        return Lines({"+CFUN: " + std::to_string(mFunction)});
    }
    if (!args || args->empty() || args->size() > 2) {
        return kError;
    }
    const auto function = ToInt((*args)[0].text, 0, 4);
    if (!function || *function == 2 || *function == 3) {
        return kError;
    }
    if (*function == 1 && mFunction != 1) {
        mRadioOn = now;
        if (mFunction == 0) {
            mSim.PowerUp();
        }
    } else if (*function != 1) {
        mRadioOn.reset();
        mPdpActive = false;
        if (*function == 0) {
            mSim.PowerDown();
        }
    }
    mFunction = *function;
    return kOk;
}

SModemAnswer CModemCommandSet::Qicsgp(const AtArgs& args)
{
    if (args[0].text != "1") {
        return kError;
    }
    if (args.size() == 1) {
        return Lines({"+QICSGP: " + std::to_string(mApnIpType) + "," + Quote(mApnName) + "," + Quote(mApnUser) +
                      "," + Quote(mApnPassword) + "," + std::to_string(mApnAuth)});
    }
    if (args.size() != 6 || !args[2].quoted || !args[3].quoted || !args[4].quoted) {
        return kError;
    }
    const auto type = ToInt(args[1].text, 1, 3);
    const auto auth = ToInt(args[5].text, 0, 3);
    if (!type || !auth || args[2].text.size() > 100 || args[3].text.size() > 127 || args[4].text.size() > 127) {
        return kError;
    }
    mApnIpType = *type;
    mApnName = args[2].text;
    mApnUser = args[3].text;
    mApnPassword = args[4].text;
    mApnAuth = *auth;
    return kOk;
}

SModemAnswer CModemCommandSet::Qiact(bool query, const std::optional<AtArgs>& args, TimePoint now)
{
    if (query) {
        if (!PdpActive(now)) {
            return kOk;
        }
        return Lines({"+QIACT: 1,1," + std::to_string(mScenario.pdpType) + "," + Quote(mScenario.pdpAddress)});
    }
    if (!args || args->size() != 1 || (*args)[0].text != "1") {
        return kError;
    }
    const auto [lte, gsm] = Registration(now);
    // Activating an active context is refused, as is activating without a network.
    if (PdpActive(now) || (!IsRegistered(lte) && !IsRegistered(gsm))) {
        return kError;
    }
    mPdpActive = true;
    return kOk;
}

SModemAnswer CModemCommandSet::Qidnscfg(const AtArgs& args)
{
    if (args[0].text != "1") {
        return kError;
    }
    if (args.size() == 1) {
        std::string text = "+QIDNSCFG: 1";
        for (const auto& server : mDns) {
            text += "," + Quote(server);
        }
        return Lines({text});
    }
    if (args.size() > 3) {
        return kError;
    }
    mDns.clear();
    for (std::size_t i = 1; i < args.size(); ++i) {
        mDns.push_back(args[i].text);
    }
    return kOk;
}

SModemAnswer CModemCommandSet::FileCommand(const std::string& name, const AtArgs& args)
{
    if (args.size() != 1 || args[0].text != kRoamingFile || !mRoamingFile) {
        return Cme(405); // file not found
    }
    if (name == "+QFDEL") {
        mRoamingFile.reset();
        return kOk;
    }
    // Download: "CONNECT", the file, then its size and 16-bit XOR checksum.
    SModemAnswer answer = Lines({"CONNECT"});
    std::string line;
    unsigned checksum = 0;
    for (std::size_t i = 0; i < mRoamingFile->size(); ++i) {
        const auto byte = static_cast<unsigned char>((*mRoamingFile)[i]);
        checksum ^= i % 2 == 0 ? static_cast<unsigned>(byte) << 8 : byte;
        if (byte == '\n') {
            answer.lines.push_back(line);
            line.clear();
        } else if (byte != '\r') {
            line += static_cast<char>(byte);
        }
    }
    if (!line.empty()) {
        answer.lines.push_back(line);
    }
    char sum[8];
    std::snprintf(sum, sizeof sum, "%04x", checksum & 0xffffU);
    answer.lines.push_back("+QFDWL: " + std::to_string(mRoamingFile->size()) + "," + sum);
    return answer;
}

SModemAnswer CModemCommandSet::SignalQuality(TimePoint now) const
{
    const auto [lte, gsm] = Registration(now);
    const auto& s = mScenario;
    if (IsRegistered(lte)) {
        return Lines({"+QCSQ: " + Quote(s.technology) + "," + std::to_string(s.rssi) + "," + std::to_string(s.rsrp) +
                      "," + std::to_string(s.sinr) + "," + std::to_string(s.rsrq)});
    }
    if (IsRegistered(gsm)) {
        return Lines({"+QCSQ: " + Quote(s.gsmTechnology) + "," + std::to_string(s.gsmRssi)});
    }
    return Lines({"+QCSQ: \"NOSERVICE\""});
}

SModemAnswer CModemCommandSet::NetworkInfo(TimePoint now) const
{
    const auto [lte, gsm] = Registration(now);
    const auto& s = mScenario;
    if (IsRegistered(lte)) {
        return Lines({"+QNWINFO: " + Quote(s.technology) + "," + Quote(s.operatorCode) + "," + Quote(s.band) + "," +
                      std::to_string(s.channel)});
    }
    if (IsRegistered(gsm)) {
        return Lines({"+QNWINFO: " + Quote(s.gsmTechnology) + "," + Quote(s.operatorCode) + "," + Quote(s.gsmBand) +
                      "," + std::to_string(s.gsmChannel)});
    }
    return Lines({"+QNWINFO: No Service"});
}

SModemAnswer CModemCommandSet::Operator(TimePoint now) const
{
    const auto [lte, gsm] = Registration(now);
    if (!IsRegistered(lte) && !IsRegistered(gsm)) {
        return Lines({"+COPS: 0"});
    }
    // Access technology: 8 eMTC, 9 NB-IoT, 0 GSM.
    const int act = IsRegistered(lte) ? (mScenario.technology == "NBIoT" ? 9 : 8) : 0;
    return Lines({"+COPS: 0,0," + Quote(mScenario.carrier) + "," + std::to_string(act)});
}
