#include "src/components/ltemodem/modemanswers.h"

#include "platform/log/log.h"
#include "platform/toolbox/join.h"
#include "platform/toolbox/tarvvalidation.h"

#include <initializer_list>
#include <string_view>

namespace Modem {

namespace {

bool Contains(std::string_view text, std::initializer_list<std::string_view> names)
{
    for (const auto name : names) {
        if (text == name) {
            return true;
        }
    }
    return false;
}

// Converts text into value; logs with name as the kind of value.
bool Convert(const std::vector<std::string>& values, const std::string& text, std::int32_t& value, const char* name,
             const char* capitalised)
{
    std::string error;
    switch (CTarvValidation::ToInt32(text, value, error)) {
    case CTarvValidation::EConversion::Ok:
        return true;
    case CTarvValidation::EConversion::NoNumber:
        TLOG_ERROR("Failed to convert {} value. Content: [{}], Error: {}", name, Join(values), error);
        return false;
    case CTarvValidation::EConversion::OutOfRange:
        TLOG_ERROR("{} value out of range. Content: [{}], Error: {}", capitalised, Join(values), error);
        return false;
    }
    return false;
}

} // namespace

std::optional<ERegistrationState> ParseRegistration(const std::vector<std::string>& values, const char* name)
{
    if (values.size() < 2) {
        TLOG_ERROR("Could not get {} registration status", name);
        return std::nullopt;
    }
    const std::string& value = values[1];
    if (value.size() != 1 || value[0] < '0' || value[0] > '5') {
        TLOG_ERROR("Unknown {} registration status [{}]", name, value);
        return std::nullopt;
    }
    return static_cast<ERegistrationState>(value[0] - '0');
}

std::optional<bool> ParseUsbnetEcm(const std::vector<std::string>& values)
{
    return values.empty() ? std::nullopt : std::optional<bool>(values[0] == "ecm");
}

std::optional<std::vector<std::string>> ParseBands(const std::vector<std::string>& values)
{
    if (values.size() != 4) {
        return std::nullopt;
    }
    return std::vector<std::string>(values.begin() + 1, values.end());
}

std::optional<std::string> ParseScanSeq(const std::vector<std::string>& values)
{
    return values.size() == 2 ? std::optional<std::string>(values[1]) : std::nullopt;
}

std::optional<std::string> ParseIotOpMode(const std::vector<std::string>& values)
{
    return values.size() >= 2 ? std::optional<std::string>(values[1]) : std::nullopt;
}

std::optional<bool> ParseSimEffect(const std::vector<std::string>& values)
{
    return values.size() >= 2 ? std::optional<bool>(values[1] == "1") : std::nullopt;
}

std::optional<bool> ParseRoaming(const std::vector<std::string>& values)
{
    return values.empty() ? std::nullopt : std::optional<bool>(values[0].find("Roaming=1") != std::string::npos);
}

std::optional<std::string> ParseIdentity(const std::vector<std::string>& values)
{
    return values.empty() ? std::nullopt : std::optional<std::string>(values[0]);
}

std::optional<bool> ParseQsimstat(const std::vector<std::string>& values)
{
    return values.size() >= 2 ? std::optional<bool>(values[1] == "1") : std::nullopt;
}

std::optional<std::string> ParseCpin(const std::vector<std::string>& values)
{
    return ParseIdentity(values);
}

std::optional<std::int32_t> ParseQpinc(const std::vector<std::string>& values)
{
    std::int32_t left = 0;
    std::string error;
    if (values.size() < 2 || CTarvValidation::ToInt32(values[1], left, error) != CTarvValidation::EConversion::Ok) {
        return std::nullopt;
    }
    return left;
}

std::optional<bool> ParseCmgfText(const std::vector<std::string>& values)
{
    return values.empty() ? std::nullopt : std::optional<bool>(values[0] == "1");
}

std::optional<std::vector<std::string>> ParseQidnscfg(const std::vector<std::string>& values)
{
    if (values.size() < 3) {
        return std::nullopt;
    }
    return std::vector<std::string> {values[1], values[2]};
}

std::optional<std::string> ParseCops(const std::vector<std::string>& values)
{
    return values.size() >= 3 ? std::optional<std::string>(values[2]) : std::nullopt;
}

std::optional<PdpContext> ParseQiact(const std::vector<std::string>& values)
{
    if (values.empty()) {
        return PdpContext {};
    }
    if (values.size() < 4) {
        TLOG_ERROR("Unexpected response size for PDP context, resp: [{}]", Join(values));
        return std::nullopt;
    }
    PdpContext context;
    context.active = values[0] == "+QIACT:1" && values[1] == "1";
    context.type = values[2] == "1" ? "IPv4" : "IPv6";
    context.ipAddress = values[3];
    return context;
}

bool ParseQcsq(const std::vector<std::string>& v, SignalInfo& info)
{
    if (v.empty()) {
        TLOG_ERROR("Could not get signal strength");
        return false;
    }
    info.technology = v[0];
    if (info.technology == "NOSERVICE") {
        TLOG_DEBUG("No service");
        return true;
    }
    const bool lte = Contains(info.technology, {"eMTC", "NBIoT"});
    if (!lte && !Contains(info.technology, {"GSM", "GPRS", "EDGE"})) {
        TLOG_ERROR("Unknown mobile technology: {}", info.technology);
        return false;
    }
    if (v.size() < 2) {
        TLOG_ERROR("Signal strength for {} missing", info.technology);
        return false;
    }
    std::vector<std::int32_t*> targets {&info.rssi};
    if (lte && v.size() >= 5) {
        targets.insert(targets.end(), {&info.rsrp, &info.sinr, &info.rsrq});
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!Convert(v, v[i + 1], *targets[i], "signal strength", "Signal strength")) {
            return false;
        }
    }
    if (lte && v.size() < 5) {
        TLOG_ERROR("Additional signal quality for {} missing", info.technology);
    }
    return true;
}

bool ParseQnwinfo(const std::vector<std::string>& v, SignalInfo& info)
{
    if (v.empty()) {
        TLOG_ERROR("Could not get network info, contents: [{}]", Join(v));
        return false;
    }
    info.technology = v[0];
    if (info.technology == "NoService") {
        TLOG_DEBUG("No service");
        return true;
    }
    if (v.size() < 4) {
        TLOG_ERROR("Additional network info for {} missing", info.technology);
        return false;
    }
    info.band = v[2];
    info.channel = v[3];
    return true;
}

std::optional<std::vector<std::int32_t>> ParseQtemp(const std::vector<std::string>& values)
{
    if (values.empty()) {
        TLOG_ERROR("Could not obtain temperatures");
        return std::nullopt;
    }
    std::vector<std::int32_t> temperatures;
    for (const auto& text : values) {
        std::int32_t value = 0;
        if (!Convert(values, text, value, "temperature", "Temperature")) {
            return std::nullopt;
        }
        temperatures.push_back(value);
    }
    return temperatures;
}

} // namespace Modem
