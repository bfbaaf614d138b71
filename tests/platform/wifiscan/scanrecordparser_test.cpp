#include "platform/wifiscan/scanrecordparser.h"

#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Element(std::uint8_t id, const Bytes& body, std::size_t claimed = SIZE_MAX)
{
    Bytes out{id, static_cast<std::uint8_t>(claimed == SIZE_MAX ? body.size() : claimed)};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A netlink attribute, padded; claimed overrides the length in its header.
Bytes Attribute(std::uint16_t type, const Bytes& value, int claimed = -1)
{
    const auto length = static_cast<std::uint16_t>(claimed < 0 ? value.size() + 4 : claimed);
    Bytes out(4);
    std::memcpy(out.data(), &length, 2);
    std::memcpy(out.data() + 2, &type, 2);
    out = out + value;
    out.resize(NLA_ALIGN(out.size()));
    return out;
}

Bytes U32(std::uint32_t value)
{
    Bytes out(4);
    std::memcpy(out.data(), &value, 4);
    return out;
}

TEST(ScanRecordParser, SsidOfInformationElements)
{
    const struct {
        const char* name;
        Bytes elements;
        std::optional<std::string> ssid;
    } cases[] = {
        {"empty", {}, std::nullopt},
        {"one byte", {0}, std::nullopt},
        {"plain", Element(0, Text("depot")), "depot"},
        {"hidden, zero length", Element(0, {}), ""},
        {"after other elements", Element(1, {0x82, 0x84}) + Element(0, Text("a")), "a"},
        {"no SSID element", Element(1, {0x82}) + Element(3, {6}), std::nullopt},
        {"truncated SSID", Element(0, Text("abc"), 10), std::nullopt},
        {"truncated element before it", Element(1, {1}, 5) + Element(0, Text("x")), std::nullopt},
        {"claims 255 at the end", Bytes{0, 255}, std::nullopt},
        {"oversized", Element(0, Text(std::string(40, 'n'))), std::string(32, 'n')},
        {"zero byte inside", Element(0, Bytes{'a', 'b', 0, 'c'}), "ab"},
        {"repeated, first counts", Element(0, Text("one")) + Element(0, Text("two")), "one"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScanRecordParser::SsidOf(c.elements), c.ssid) << c.name;
    }
}

TEST(ScanRecordParser, CompleteRecord)
{
    const Bytes bss = Attribute(NL80211_BSS_BSSID, {1, 2, 3, 4, 5, 6}) + Attribute(NL80211_BSS_FREQUENCY, U32(2437)) +
                      Attribute(NL80211_BSS_STATUS, U32(NL80211_BSS_STATUS_ASSOCIATED)) +
                      Attribute(NL80211_BSS_SIGNAL_MBM, U32(static_cast<std::uint32_t>(-6100))) +
                      Attribute(NL80211_BSS_SEEN_MS_AGO, U32(4500)) +
                      Attribute(NL80211_BSS_INFORMATION_ELEMENTS | NLA_F_NESTED, Element(0, Text("yard")));
    const ITarvWifiScan::SScanRecord record = ScanRecordParser::RecordOf(bss);
    EXPECT_EQ(record.bssid, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(record.frequencyMhz, 2437U);
    EXPECT_EQ(record.status, static_cast<std::int32_t>(NL80211_BSS_STATUS_ASSOCIATED));
    EXPECT_EQ(record.signalMbm, -6100);
    EXPECT_EQ(record.secondsSeen, 4U);
    EXPECT_EQ(record.ssid, "yard");
    EXPECT_EQ(record.complete, 1U);
}

TEST(ScanRecordParser, MalformedAttributesNeverReadPastTheirBytes)
{
    const Bytes frequency = Attribute(NL80211_BSS_FREQUENCY, U32(5180));
    const Bytes signal = Attribute(NL80211_BSS_SIGNAL_MBM, U32(static_cast<std::uint32_t>(-7000)));
    const Bytes ssid = Attribute(NL80211_BSS_INFORMATION_ELEMENTS, Element(0, Text("s")));
    const struct {
        const char* name;
        Bytes bss;
        std::uint32_t frequencyMhz;
        std::uint32_t complete;
    } cases[] = {
        {"empty", {}, 0, 0},
        {"all there", frequency + signal + ssid, 5180, 1},
        {"no elements", frequency + signal, 5180, 0},
        {"two-byte frequency", Attribute(NL80211_BSS_FREQUENCY, {0x14, 0x14}) + signal + ssid, 0, 0},
        {"header shorter than itself", frequency + Attribute(NL80211_BSS_SIGNAL_MBM, U32(1), 3) + ssid, 5180, 0},
        {"length past the end", frequency + signal + Attribute(NL80211_BSS_INFORMATION_ELEMENTS, {0, 0}, 200), 5180, 0},
        {"trailing bytes", frequency + signal + ssid + Bytes{8, 0}, 5180, 1},
        {"repeated, last counts", frequency + Attribute(NL80211_BSS_FREQUENCY, U32(2412)) + signal + ssid, 2412, 1},
        {"unknown type", Attribute(0x7ff, U32(1)) + frequency + signal + ssid, 5180, 1},
    };
    for (const auto& c : cases) {
        const ITarvWifiScan::SScanRecord record = ScanRecordParser::RecordOf(c.bss);
        EXPECT_EQ(record.frequencyMhz, c.frequencyMhz) << c.name;
        EXPECT_EQ(record.complete, c.complete) << c.name;
    }
    const Bytes shortBssid = Attribute(NL80211_BSS_BSSID, {9, 9, 9, 9, 9});
    EXPECT_EQ(ScanRecordParser::RecordOf(shortBssid).bssid, (std::array<std::uint8_t, 6>{}));
}

} // namespace
