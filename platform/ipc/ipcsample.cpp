#include "platform/ipc/ipcsample.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace IpcSample {

namespace {
template <typename List, typename Values>
void Fill(List* list, const Values& values)
{
    for (const auto& value : values) {
        list->add_values(value);
    }
}

template <typename T, typename List>
std::vector<T> Read(const List& list)
{
    return std::vector<T>(list.values().begin(), list.values().end());
}
} // namespace

ipc::MDiagnosticsSample ToMessage(const CDiagnosticsCommClient::SSample& sample)
{
    ipc::MDiagnosticsSample message;
    message.set_identifier(sample.identifier);
    message.set_timestampus(
        std::chrono::duration_cast<std::chrono::microseconds>(sample.timestamp.time_since_epoch()).count());
    std::visit(
        [&message](const auto& value) {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, bool>) {
                message.set_boolvalue(value);
            } else if constexpr (std::is_same_v<T, std::int32_t>) {
                message.set_int32value(value);
            } else if constexpr (std::is_same_v<T, std::uint32_t>) {
                message.set_uint32value(value);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                message.set_int64value(value);
            } else if constexpr (std::is_same_v<T, float>) {
                message.set_floatvalue(value);
            } else if constexpr (std::is_same_v<T, std::string>) {
                message.set_stringvalue(value);
            } else if constexpr (std::is_same_v<T, std::vector<std::int32_t>>) {
                Fill(message.mutable_int32list(), value);
            } else if constexpr (std::is_same_v<T, std::vector<std::uint32_t>>) {
                Fill(message.mutable_uint32list(), value);
            } else if constexpr (std::is_same_v<T, std::vector<float>>) {
                Fill(message.mutable_floatlist(), value);
            } else {
                static_assert(std::is_same_v<T, std::vector<std::string>>);
                Fill(message.mutable_stringlist(), value);
            }
        },
        sample.value);
    return message;
}

CDiagnosticsCommClient::SSample FromMessage(const ipc::MDiagnosticsSample& message)
{
    CDiagnosticsCommClient::SSample sample;
    sample.identifier = message.identifier();
    // A peer may send any number: one beyond what the clock can hold is
    // taken as its limit instead of overflowing.
    using Duration = std::chrono::system_clock::duration;
    constexpr auto kMax = std::chrono::duration_cast<std::chrono::microseconds>(Duration::max()).count();
    constexpr auto kMin = std::chrono::duration_cast<std::chrono::microseconds>(Duration::min()).count();
    const auto microseconds = std::clamp<std::int64_t>(message.timestampus(), kMin, kMax);
    sample.timestamp = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<Duration>(std::chrono::microseconds(microseconds)));
    using M = ipc::MDiagnosticsSample;
    switch (message.value_case()) {
    case M::kBoolValue: sample.value = message.boolvalue(); break;
    case M::kInt32Value: sample.value = message.int32value(); break;
    case M::kUint32Value: sample.value = message.uint32value(); break;
    case M::kInt64Value: sample.value = message.int64value(); break;
    case M::kFloatValue: sample.value = message.floatvalue(); break;
    case M::kStringValue: sample.value = message.stringvalue(); break;
    case M::kInt32List: sample.value = Read<std::int32_t>(message.int32list()); break;
    case M::kUint32List: sample.value = Read<std::uint32_t>(message.uint32list()); break;
    case M::kFloatList: sample.value = Read<float>(message.floatlist()); break;
    case M::kStringList: sample.value = Read<std::string>(message.stringlist()); break;
    case M::VALUE_NOT_SET: sample.value = false; break;
    }
    return sample;
}

} // namespace IpcSample
