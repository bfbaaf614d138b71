#include "platform/wifiscan/scanrecordparser.h"

#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::uint8_t kSsidElement = 0;
constexpr std::size_t kMaxSsidBytes = 32;
// A netlink attribute: 16-bit length (header included), 16-bit type, value,
// padding to a multiple of 4.
constexpr std::size_t kAttributeHeader = 4;

using Bytes = std::span<const std::uint8_t>;
using Attributes = std::array<std::optional<Bytes>, NL80211_BSS_MAX + 1>;

std::uint16_t U16At(Bytes bytes, std::size_t at)
{
    std::uint16_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof(value));
    return value;
}

std::optional<std::uint32_t> U32Of(const std::optional<Bytes>& value)
{
    if (!value || value->size() < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    std::uint32_t number = 0;
    std::memcpy(&number, value->data(), sizeof(number));
    return number;
}

Attributes AttributesOf(Bytes bss)
{
    Attributes attributes{};
    for (std::size_t at = 0; bss.size() - at >= kAttributeHeader;) {
        const std::size_t length = U16At(bss, at);
        if (length < kAttributeHeader || length > bss.size() - at) {
            break;
        }
        const unsigned type = U16At(bss, at + 2) & NLA_TYPE_MASK;
        if (type < attributes.size()) {
            attributes[type] = bss.subspan(at + kAttributeHeader, length - kAttributeHeader);
        }
        at += std::min(NLA_ALIGN(length), bss.size() - at);
    }
    return attributes;
}

} // namespace

std::optional<std::string> ScanRecordParser::SsidOf(std::span<const std::uint8_t> elements)
{
    for (std::size_t at = 0; elements.size() - at >= 2;) {
        const std::size_t length = elements[at + 1];
        if (length > elements.size() - at - 2) {
            break;
        }
        if (elements[at] == kSsidElement) {
            const auto* name = reinterpret_cast<const char*>(elements.data() + at + 2);
            return std::string(name, strnlen(name, std::min(length, kMaxSsidBytes)));
        }
        at += 2 + length;
    }
    return std::nullopt;
}

ITarvWifiScan::SScanRecord ScanRecordParser::RecordOf(std::span<const std::uint8_t> bss)
{
    const Attributes attributes = AttributesOf(bss);
    ITarvWifiScan::SScanRecord record;
    if (const auto& bssid = attributes[NL80211_BSS_BSSID]; bssid && bssid->size() >= record.bssid.size()) {
        std::memcpy(record.bssid.data(), bssid->data(), record.bssid.size());
    }
    const std::optional<std::uint32_t> frequency = U32Of(attributes[NL80211_BSS_FREQUENCY]);
    const std::optional<std::uint32_t> signal = U32Of(attributes[NL80211_BSS_SIGNAL_MBM]);
    record.frequencyMhz = frequency.value_or(0);
    record.signalMbm = static_cast<std::int32_t>(signal.value_or(0));
    if (const auto status = U32Of(attributes[NL80211_BSS_STATUS])) {
        record.status = static_cast<std::int32_t>(*status);
    }
    record.secondsSeen = U32Of(attributes[NL80211_BSS_SEEN_MS_AGO]).value_or(0) / 1000;
    const auto& elements = attributes[NL80211_BSS_INFORMATION_ELEMENTS];
    const std::optional<std::string> ssid = elements ? SsidOf(*elements) : std::nullopt;
    record.ssid = ssid.value_or("");
    record.complete = frequency && signal && ssid ? 1 : 0;
    return record;
}
