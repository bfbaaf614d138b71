#include "tools/modemsim/modemscenario.h"

#include <json/json.h>

#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

// A scenario error; caught once in Parse and turned into the error text.
class CBadScenario : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the members of one JSON object with type checks; Finish() reports
// any member that was never asked for.
class CObjectReader {
public:
    CObjectReader(const Json::Value& value, std::string where)
        : mValue(value)
        , mWhere(std::move(where))
    {
        if (!mValue.isObject()) {
            throw CBadScenario(mWhere + ": not a JSON object");
        }
    }

    const Json::Value* Find(const char* key)
    {
        mKnown.insert(key);
        return mValue.isMember(key) ? &mValue[key] : nullptr;
    }

    std::string Where(const char* key) const { return mWhere.empty() ? key : mWhere + "." + key; }

    void Text(const char* key, std::string& out)
    {
        if (const auto* v = Find(key)) {
            if (!v->isString()) {
                throw CBadScenario(Where(key) + ": text expected");
            }
            out = v->asString();
        }
    }

    // A text made only of decimal digits, minLength to maxLength long.
    void Digits(const char* key, std::string& out, std::size_t minLength, std::size_t maxLength)
    {
        std::string text = out;
        Text(key, text);
        const bool digits = text.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || text.size() < minLength || text.size() > maxLength) {
            throw CBadScenario(Where(key) + ": " + std::to_string(minLength) + " to " +
                               std::to_string(maxLength) + " decimal digits expected");
        }
        out = text;
    }

    void Int(const char* key, int& out, int min, int max)
    {
        if (const auto* v = Find(key)) {
            if (!v->isInt() || v->asInt() < min || v->asInt() > max) {
                throw CBadScenario(Where(key) + ": integer from " + std::to_string(min) + " to " +
                                   std::to_string(max) + " expected");
            }
            out = v->asInt();
        }
    }

    void Millis(const char* key, std::int64_t& out)
    {
        if (const auto* v = Find(key)) {
            // One day is far beyond any modem delay and keeps sums in range.
            if (!v->isInt64() || v->asInt64() < 0 || v->asInt64() > 86'400'000) {
                throw CBadScenario(Where(key) + ": milliseconds from 0 to 86400000 expected");
            }
            out = v->asInt64();
        }
    }

    void Bool(const char* key, bool& out)
    {
        if (const auto* v = Find(key)) {
            if (!v->isBool()) {
                throw CBadScenario(Where(key) + ": true or false expected");
            }
            out = v->asBool();
        }
    }

    const Json::Value* Array(const char* key)
    {
        const auto* v = Find(key);
        if (v != nullptr && !v->isArray()) {
            throw CBadScenario(Where(key) + ": array expected");
        }
        return v;
    }

    void Finish() const
    {
        for (const auto& name : mValue.getMemberNames()) {
            if (mKnown.count(name) == 0) {
                throw CBadScenario((mWhere.empty() ? name : mWhere + "." + name) + ": unknown key");
            }
        }
    }

private:
    const Json::Value& mValue;
    std::string mWhere;
    std::set<std::string> mKnown;
};

// Text that goes into an answer line: a CR or LF would end the line early
// and a double quote would break the quoting of the answer.
void CheckAnswerText(const std::string& where, const std::string& text, bool allowQuote = false)
{
    for (const char c : text) {
        if (c == '\r' || c == '\n' || (c == '"' && !allowQuote)) {
            throw CBadScenario(where + ": line ends and double quotes are not allowed");
        }
    }
}

const std::map<std::string, SModemFault::EKind> kFaultKinds {
    {"timeout", SModemFault::EKind::Timeout},         {"garbage", SModemFault::EKind::Garbage},
    {"error", SModemFault::EKind::Error},             {"cme-error", SModemFault::EKind::CmeError},
    {"truncated", SModemFault::EKind::Truncated},     {"endless", SModemFault::EKind::Endless},
    {"unsolicited", SModemFault::EKind::Unsolicited}, {"delay", SModemFault::EKind::Delay},
    {"vanish", SModemFault::EKind::Vanish},
};

SModemFault ParseFault(const Json::Value& value, const std::string& where)
{
    CObjectReader r(value, where);
    SModemFault fault;
    std::string kind;
    r.Text("kind", kind);
    const auto it = kFaultKinds.find(kind);
    if (it == kFaultKinds.end()) {
        throw CBadScenario(r.Where("kind") +
                           ": one of timeout, garbage, error, cme-error, truncated, endless, "
                           "unsolicited, delay, vanish expected");
    }
    fault.kind = it->second;
    std::string prefix;
    r.Text("command", fault.command);
    r.Text("prefix", prefix);
    if (fault.command.empty() == prefix.empty()) {
        throw CBadScenario(where + ": exactly one of command and prefix expected");
    }
    if (!prefix.empty()) {
        fault.command = prefix;
        fault.prefix = true;
    }
    r.Int("times", fault.times, -1, std::numeric_limits<int>::max());
    r.Int("skip", fault.skip, 0, std::numeric_limits<int>::max());
    r.Int("code", fault.cmeCode, 0, 9999);
    r.Text("text", fault.text);
    r.Bool("thenAnswer", fault.thenAnswer);
    r.Millis("delayMs", fault.delayMs);
    int endless = static_cast<int>(fault.endlessBytes);
    r.Int("bytes", endless, 1, 1 << 20);
    fault.endlessBytes = static_cast<std::size_t>(endless);
    r.Int("position", fault.position, 0, 1000);
    if (fault.kind == SModemFault::EKind::Unsolicited) {
        CheckAnswerText(r.Where("text"), fault.text, true);
    }
    r.Finish();
    return fault;
}

void ParseSim(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "sim");
    r.Bool("present", s.simPresent);
    if (const auto* pin = r.Find("pin")) {
        if (pin->isNull()) {
            s.pin.reset();
        } else {
            std::string text = "0000";
            r.Digits("pin", text, 4, 8);
            s.pin = text;
        }
    }
    r.Digits("puk", s.puk, 8, 8);
    r.Int("pinAttempts", s.pinAttempts, 0, 3);
    r.Int("pukAttempts", s.pukAttempts, 0, 10);
    r.Digits("iccid", s.iccid, 18, 22);
    r.Digits("imsi", s.imsi, 15, 15);
    r.Finish();
}

void ParseConfig(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "config");
    std::string usbnet = s.ecm ? "ecm" : "rmnet";
    r.Text("usbnet", usbnet);
    if (usbnet != "ecm" && usbnet != "rmnet") {
        throw CBadScenario("config.usbnet: \"ecm\" or \"rmnet\" expected");
    }
    s.ecm = usbnet == "ecm";
    if (const auto* bands = r.Array("bands")) {
        if (bands->size() != 3) {
            throw CBadScenario("config.bands: three band masks expected");
        }
        s.bands.clear();
        for (const auto& band : *bands) {
            const std::string text = band.isString() ? band.asString() : std::string();
            if (text.size() < 3 || text.rfind("0x", 0) != 0 ||
                text.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
                throw CBadScenario("config.bands: hexadecimal masks such as \"0x3\" expected");
            }
            s.bands.push_back(text);
        }
    }
    r.Digits("scanSequence", s.scanSequence, 2, 8);
    r.Int("iotMode", s.iotMode, 0, 2);
    r.Int("simEffect", s.simEffect, 0, 1);
    r.Bool("fastShutdown", s.fastShutdown);
    r.Bool("smsTextMode", s.smsTextMode);
    r.Finish();
}

void ParseApn(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "apn");
    r.Int("ipType", s.apnIpType, 1, 3);
    r.Text("name", s.apnName);
    r.Text("user", s.apnUser);
    r.Text("password", s.apnPassword);
    r.Int("auth", s.apnAuth, 0, 3);
    CheckAnswerText("apn.name", s.apnName);
    CheckAnswerText("apn.user", s.apnUser);
    CheckAnswerText("apn.password", s.apnPassword);
    r.Finish();
}

void ParseRoaming(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "roaming");
    if (const auto* file = r.Find("file")) {
        if (file->isNull()) {
            s.roamingFile.reset();
        } else if (file->isString()) {
            s.roamingFile = file->asString();
        } else {
            throw CBadScenario("roaming.file: text or null expected");
        }
    }
    r.Text("default", s.roamingDefault);
    r.Finish();
}

void ParseNetwork(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "network");
    r.Text("technology", s.technology);
    if (s.technology != "eMTC" && s.technology != "NBIoT") {
        throw CBadScenario("network.technology: \"eMTC\" or \"NBIoT\" expected");
    }
    r.Text("carrier", s.carrier);
    r.Text("operator", s.operatorCode);
    r.Text("band", s.band);
    r.Int("channel", s.channel, 0, 999999);
    r.Int("rssi", s.rssi, -200, 0);
    r.Int("rsrp", s.rsrp, -200, 0);
    r.Int("sinr", s.sinr, -50, 50);
    r.Int("rsrq", s.rsrq, -50, 0);
    r.Text("gsmTechnology", s.gsmTechnology);
    if (s.gsmTechnology != "GSM" && s.gsmTechnology != "GPRS" && s.gsmTechnology != "EDGE") {
        throw CBadScenario("network.gsmTechnology: \"GSM\", \"GPRS\" or \"EDGE\" expected");
    }
    r.Text("gsmBand", s.gsmBand);
    r.Int("gsmChannel", s.gsmChannel, 0, 999999);
    r.Int("gsmRssi", s.gsmRssi, -200, 0);
    for (const char* key : {"carrier", "operator", "band", "gsmBand"}) {
        std::string text;
        r.Text(key, text);
        CheckAnswerText(r.Where(key), text);
    }
    if (const auto* steps = r.Array("registration")) {
        s.registration.clear();
        for (Json::ArrayIndex i = 0; i < steps->size(); ++i) {
            CObjectReader step((*steps)[i], "network.registration[" + std::to_string(i) + "]");
            SRegistrationStep entry;
            if (const auto* at = step.Find("at")) {
                if (!at->isNumeric() || at->asDouble() < 0) {
                    throw CBadScenario(step.Where("at") + ": seconds (0 or more) expected");
                }
                entry.atSeconds = at->asDouble();
            }
            step.Int("lte", entry.lte, 0, 5);
            step.Int("gsm", entry.gsm, 0, 5);
            step.Finish();
            if (!s.registration.empty() && entry.atSeconds < s.registration.back().atSeconds) {
                throw CBadScenario(step.Where("at") + ": steps must be in time order");
            }
            s.registration.push_back(entry);
        }
    }
    r.Finish();
}

void ParsePdp(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "pdp");
    r.Text("address", s.pdpAddress);
    CheckAnswerText("pdp.address", s.pdpAddress);
    r.Int("type", s.pdpType, 1, 2);
    if (const auto* dns = r.Array("dns")) {
        s.dns.clear();
        for (const auto& server : *dns) {
            if (!server.isString()) {
                throw CBadScenario("pdp.dns: addresses as text expected");
            }
            CheckAnswerText("pdp.dns", server.asString());
            s.dns.push_back(server.asString());
        }
    }
    r.Finish();
}

void ParseSms(const Json::Value& list, SModemScenario& s)
{
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
        CObjectReader r(list[i], "sms[" + std::to_string(i) + "]");
        SStoredSms sms;
        r.Text("from", sms.from);
        r.Text("time", sms.time);
        r.Text("text", sms.text);
        r.Bool("read", sms.read);
        CheckAnswerText(r.Where("from"), sms.from);
        CheckAnswerText(r.Where("time"), sms.time);
        CheckAnswerText(r.Where("text"), sms.text, true);
        r.Finish();
        s.sms.push_back(sms);
    }
}

void ParseTiming(const Json::Value& value, SModemScenario& s)
{
    CObjectReader r(value, "timing");
    r.Millis("powerOnMs", s.powerOnMs);
    r.Millis("appReadyMs", s.appReadyMs);
    r.Millis("powerOffMs", s.powerOffMs);
    r.Millis("simReadyMs", s.simReadyMs);
    r.Finish();
}

void ParseTop(const Json::Value& root, SModemScenario& s)
{
    CObjectReader r(root, "");
    if (const auto* identity = r.Find("identity")) {
        CObjectReader id(*identity, "identity");
        id.Digits("imei", s.imei, 15, 15);
        id.Text("firmware", s.firmware);
        CheckAnswerText("identity.firmware", s.firmware);
        id.Finish();
    }
    using Section = void (*)(const Json::Value&, SModemScenario&);
    const std::pair<const char*, Section> sections[] = {
        {"sim", ParseSim},         {"config", ParseConfig}, {"apn", ParseApn},       {"roaming", ParseRoaming},
        {"network", ParseNetwork}, {"pdp", ParsePdp},       {"timing", ParseTiming},
    };
    for (const auto& [key, parse] : sections) {
        if (const auto* v = r.Find(key)) {
            parse(*v, s);
        }
    }
    if (const auto* temps = r.Array("temperatures")) {
        s.temperatures.clear();
        for (const auto& t : *temps) {
            if (!t.isInt()) {
                throw CBadScenario("temperatures: integers expected");
            }
            s.temperatures.push_back(t.asInt());
        }
    }
    if (const auto* sms = r.Array("sms")) {
        ParseSms(*sms, s);
    }
    r.Int("deviceMissingPowerOns", s.deviceMissingPowerOns, -1, std::numeric_limits<int>::max());
    if (const auto* faults = r.Array("faults")) {
        for (Json::ArrayIndex i = 0; i < faults->size(); ++i) {
            s.faults.push_back(ParseFault((*faults)[i], "faults[" + std::to_string(i) + "]"));
        }
    }
    r.Finish();
}

} // namespace

std::optional<SModemScenario> SModemScenario::Parse(const std::string& json, std::string& error)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string parseErrors;
    if (!reader->parse(json.data(), json.data() + json.size(), &root, &parseErrors)) {
        std::istringstream lines(parseErrors);
        std::string first;
        std::getline(lines, first);
        error = "invalid JSON: " + first;
        return std::nullopt;
    }
    SModemScenario scenario;
    try {
        ParseTop(root, scenario);
    } catch (const CBadScenario& e) {
        error = e.what();
        return std::nullopt;
    } catch (const Json::Exception& e) {
        error = e.what();
        return std::nullopt;
    }
    return scenario;
}

std::optional<SModemScenario> SModemScenario::Load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto scenario = Parse(text.str(), error);
    if (!scenario) {
        error = path + ": " + error;
    }
    return scenario;
}
