#include "tools/diagcollector/diagcollector.h"

#include "tools/stationpeer/peertime.h"

#include <cstdio>
#include <fstream>
#include <ostream>
#include <type_traits>

namespace {

std::string Quoted(const std::string& text)
{
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            result += '\\';
            result += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            result += escaped;
        } else {
            result += c;
        }
    }
    return result + "\"";
}

std::string Scalar(bool value) { return value ? "true" : "false"; }
std::string Scalar(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}
std::string Scalar(const std::string& value) { return Quoted(value); }
template <typename T>
std::string Scalar(T value)
{
    return std::to_string(value);
}

template <typename T>
std::string List(const std::vector<T>& values)
{
    std::string result = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        result += (i == 0 ? "" : ",") + Scalar(values[i]);
    }
    return result + "]";
}

} // namespace

std::string CDiagCollector::FormatSample(const CDiagnosticsCommClient::SSample& sample)
{
    const std::string value = std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (requires { v.size(); } && !std::is_same_v<T, std::string>) {
                return List(v);
            } else {
                return Scalar(v);
            }
        },
        sample.value);
    return StationPeer::UtcTime(sample.timestamp) + " " + std::to_string(sample.identifier) + " " + value;
}

bool CDiagCollector::SendSample(const CDiagnosticsCommClient::SSample& sample)
{
    const std::string line = FormatSample(sample);
    std::lock_guard lock(mMutex);
    std::ofstream record(mRecordPath, std::ios::app);
    record << line << '\n';
    record.flush();
    mOut << line << std::endl;
    return static_cast<bool>(record);
}
