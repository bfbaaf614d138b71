#include "tools/tarvctl/tarvctlformat.h"

#include <array>
#include <chrono>
#include <ctime>

namespace {

// What the daemon sends for a signal strength it has not measured.
constexpr std::int32_t kNoSignal = -1000;

constexpr std::array<std::pair<const char*, ipc::EIfName>, 5> kInterfaces{
    {{"uap0", ipc::EUap0}, {"eth0", ipc::EEth0}, {"wlan0", ipc::EWlan0}, {"lte0", ipc::ELte0}, {"plc0", ipc::EPlc0}}};

bool IsSet(const std::string& value)
{
    return !value.empty() && value != "0.0.0.0";
}

std::string Text(const std::string& value)
{
    return IsSet(value) ? value : CTarvCtlFormat::kNotSet;
}

Json::Value JsonOf(const std::string& value)
{
    return IsSet(value) ? Json::Value(value) : Json::Value();
}

const char* ConnectionName(ipc::MNetStatus::EConnectionState state)
{
    switch (state) {
    case ipc::MNetStatus::EConnected: return "connected";
    case ipc::MNetStatus::EDisconnected: return "disconnected";
    default: return CTarvCtlFormat::kNotSet;
    }
}

bool HasSignal(const ipc::MNetStatus& status)
{
    return status.optionalSignalStrength_case() == ipc::MNetStatus::kSignalStrength &&
           status.signalstrength() != kNoSignal;
}

} // namespace

const char* CTarvCtlFormat::StateName(int state)
{
    switch (state) {
    case ipc::MState::Invalid: return "Invalid";
    case ipc::MState::Uninitialized: return "Uninitialized";
    case ipc::MState::Disabled: return "Disabled";
    case ipc::MState::Enabled: return "Enabled";
    case ipc::MState::Error: return "Error";
    case ipc::MState::FatalError: return "FatalError";
    case ipc::MState::Commission: return "Commission";
    default: return "Unknown";
    }
}

std::optional<ipc::EIfName> CTarvCtlFormat::InterfaceId(const std::string& name)
{
    for (const auto& [known, id] : kInterfaces) {
        if (name == known) {
            return id;
        }
    }
    return std::nullopt;
}

std::string CTarvCtlFormat::InterfaceName(int id)
{
    for (const auto& [name, known] : kInterfaces) {
        if (id == known) {
            return name;
        }
    }
    return "interface" + std::to_string(id);
}

std::string CTarvCtlFormat::StatusLine(const ipc::MNetStatus& status)
{
    std::string line = InterfaceName(status.interface()) + " " + ConnectionName(status.connectionstate());
    if (status.has_properties()) {
        const auto& properties = status.properties();
        line += " ip " + Text(properties.ipaddress()) + " mask " + Text(properties.subnetmask()) + " gateway " +
                Text(properties.defaultgateway());
    }
    if (status.has_dns()) {
        const auto& dns = status.dns();
        line += IsSet(dns.primarydns()) || IsSet(dns.secondarydns())
                    ? " dns " + Text(dns.primarydns()) + " " + Text(dns.secondarydns())
                    : std::string(" dns ") + kNotSet;
    }
    if (status.optionalSignalStrength_case() == ipc::MNetStatus::kSignalStrength) {
        line += " signal " + (HasSignal(status) ? std::to_string(status.signalstrength()) : kNotSet);
    }
    if (status.has_lteinfo()) {
        line += " carrier " + Text(status.lteinfo().carrier()) + " technology " + Text(status.lteinfo().technology());
    }
    return line;
}

Json::Value CTarvCtlFormat::StatusJson(const ipc::MNetStatus& status)
{
    Json::Value value;
    value["interface"] = InterfaceName(status.interface());
    value["connection"] = status.connectionstate() == ipc::MNetStatus::EConnected      ? Json::Value("connected")
                          : status.connectionstate() == ipc::MNetStatus::EDisconnected ? Json::Value("disconnected")
                                                                                       : Json::Value();
    if (status.has_properties()) {
        value["ip"] = JsonOf(status.properties().ipaddress());
        value["netmask"] = JsonOf(status.properties().subnetmask());
        value["gateway"] = JsonOf(status.properties().defaultgateway());
    }
    if (status.has_dns()) {
        value["dns"] = Json::Value(Json::arrayValue);
        for (const std::string& server : {status.dns().primarydns(), status.dns().secondarydns()}) {
            if (IsSet(server)) {
                value["dns"].append(server);
            }
        }
    }
    if (status.optionalSignalStrength_case() == ipc::MNetStatus::kSignalStrength) {
        value["signal"] = HasSignal(status) ? Json::Value(status.signalstrength()) : Json::Value();
    }
    if (status.has_lteinfo()) {
        const auto& lte = status.lteinfo();
        value["carrier"] = JsonOf(lte.carrier());
        value["technology"] = JsonOf(lte.technology());
        value["iccid"] = JsonOf(lte.iccid());
        value["imsi"] = JsonOf(lte.imsi());
        value["imei"] = JsonOf(lte.imei());
    }
    return value;
}

std::string CTarvCtlFormat::OneLine(const Json::Value& value)
{
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, value);
}

std::string CTarvCtlFormat::Timestamp()
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%H:%M:%S", &local);
    return text;
}
