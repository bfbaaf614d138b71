#include "platform/wifiscan/scanrecordparser.h"

#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

// Byte strings: information elements and netlink attributes as the kernel
// hands them out.
std::span<const std::uint8_t> Span(const std::string& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

std::string Element(char id, const std::string& body, int claimed = -1)
{
    return std::string{id, static_cast<char>(claimed < 0 ? body.size() : static_cast<std::size_t>(claimed))} + body;
}

// claimed overrides the length in the attribute's header.
std::string Attribute(std::uint16_t type, const std::string& value, int claimed = -1)
{
    const auto length = static_cast<std::uint16_t>(claimed < 0 ? value.size() + 4 : static_cast<std::size_t>(claimed));
    std::string out(4, '\0');
    std::memcpy(out.data(), &length, 2);
    std::memcpy(out.data() + 2, &type, 2);
    out += value;
    out.resize(NLA_ALIGN(out.size()));
    return out;
}

std::string U32(std::int64_t value)
{
    const auto number = static_cast<std::uint32_t>(value);
    return std::string(reinterpret_cast<const char*>(&number), 4);
}

TEST(ScanRecordParser, SsidOfInformationElements)
{
    const std::tuple<const char*, std::string, std::optional<std::string>> cases[] = { // name, elements, SSID
        {"one byte", std::string(1, '\0'), std::nullopt},
        {"hidden, zero length", Element(0, ""), ""},
        {"after other elements", Element(1, "\x82\x84") + Element(0, "depot"), "depot"},
        {"no SSID element", Element(1, "\x82") + Element(3, "\x06"), std::nullopt},
        {"truncated SSID", Element(0, "abc", 10), std::nullopt},
        {"truncated element before it", Element(1, "x", 5) + Element(0, "y"), std::nullopt},
        {"oversized", Element(0, std::string(40, 'n')), std::string(32, 'n')},
        {"zero byte inside", Element(0, std::string("ab\0c", 4)), "ab"},
        {"repeated, first counts", Element(0, "one") + Element(0, "two"), "one"},
    };
    for (const auto& [name, elements, ssid] : cases) {
        EXPECT_EQ(ScanRecordParser::SsidOf(Span(elements)), ssid) << name;
    }
}

TEST(ScanRecordParser, RecordOfNeverReadsPastAnAttribute)
{
    const std::string frequency = Attribute(NL80211_BSS_FREQUENCY, U32(5180));
    const std::string signal = Attribute(NL80211_BSS_SIGNAL_MBM, U32(-7000));
    const std::string ssid = Attribute(NL80211_BSS_INFORMATION_ELEMENTS | NLA_F_NESTED, Element(0, "s"));
    // Name, attributes, the frequency and the completeness read.
    const std::tuple<const char*, std::string, std::uint32_t, std::uint32_t> cases[] = {
        {"all there", frequency + signal + ssid, 5180, 1},
        {"two-byte frequency", Attribute(NL80211_BSS_FREQUENCY, "\x14\x14") + signal + ssid, 0, 0},
        {"header shorter than itself", frequency + Attribute(NL80211_BSS_SIGNAL_MBM, U32(1), 3) + ssid, 5180, 0},
        {"length past the end", frequency + signal + Attribute(NL80211_BSS_INFORMATION_ELEMENTS, "ab", 200), 5180, 0},
        {"trailing bytes", frequency + signal + ssid + "\x08", 5180, 1},
        {"repeated, last counts", frequency + Attribute(NL80211_BSS_FREQUENCY, U32(2412)) + signal + ssid, 2412, 1},
        {"unknown type", Attribute(0x7ff, U32(1)) + frequency + signal + ssid, 5180, 1},
    };
    for (const auto& [name, attributes, frequencyMhz, complete] : cases) {
        const ITarvWifiScan::SScanRecord record = ScanRecordParser::RecordOf(Span(attributes));
        EXPECT_EQ(record.frequencyMhz, frequencyMhz) << name;
        EXPECT_EQ(record.complete, complete) << name;
    }

    const std::string bss = Attribute(NL80211_BSS_BSSID, "\x01\x02\x03\x04\x05\x06") + signal + ssid +
                            Attribute(NL80211_BSS_STATUS, U32(NL80211_BSS_STATUS_ASSOCIATED)) +
                            Attribute(NL80211_BSS_SEEN_MS_AGO, U32(4500));
    const ITarvWifiScan::SScanRecord record = ScanRecordParser::RecordOf(Span(bss));
    EXPECT_EQ(record.bssid, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(std::tie(record.status, record.signalMbm, record.secondsSeen, record.ssid),
              std::make_tuple(static_cast<std::int32_t>(NL80211_BSS_STATUS_ASSOCIATED), -7000, 4U, std::string("s")));
    EXPECT_EQ(ScanRecordParser::RecordOf(Span(Attribute(NL80211_BSS_BSSID, "\x09\x09\x09\x09\x09"))).bssid,
              (std::array<std::uint8_t, 6>{}));
}

} // namespace
