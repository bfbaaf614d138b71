#include "src/components/system/tarvvalidation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// Values that would smuggle extra lines or words into a system file; none is
// acceptable as any kind of value.
const std::vector<std::string> kHostile = {
    ""s,
    " "s,
    "10.0.0.1\npre-up touch /tmp/owned"s,
    "charger\npre-up rm -rf /"s,
    "10.0.0.1 "s,
    " 10.0.0.1"s,
    "10.0.0.1\r"s,
    "10.0.0.1\t"s,
    "fe80::1\n"s,
    "host\0name"s,
    "10.0.0.1\0"s,
    "charger;reboot"s,
    "$(reboot)"s,
};

} // namespace

TEST(Validation, HostileValuesAreNothing)
{
    for (const auto& value : kHostile) {
        EXPECT_FALSE(CTarvValidation::IsIpv4Address(value)) << value;
        EXPECT_FALSE(CTarvValidation::IsIpv4Netmask(value)) << value;
        EXPECT_FALSE(CTarvValidation::IsIpv6Address(value)) << value;
        EXPECT_FALSE(CTarvValidation::IsIpv6PrefixLength(value)) << value;
        EXPECT_FALSE(CTarvValidation::IsHostname(value)) << value;
    }
}

TEST(Validation, Ipv4Address)
{
    for (const char* good : {"0.0.0.0", "192.168.1.50", "255.255.255.255", "10.0.0.1", "8.8.8.8"}) {
        EXPECT_TRUE(CTarvValidation::IsIpv4Address(good)) << good;
    }
    for (const char* bad : {"256.0.0.1", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3", "192.168.001.050",
                            "01.2.3.4", "1.2.3.-4", "1.2.3.4/24", "a.b.c.d", "1234.1.1.1", "::1", "0x7f.0.0.1"}) {
        EXPECT_FALSE(CTarvValidation::IsIpv4Address(bad)) << bad;
    }
}

TEST(Validation, Ipv4NetmaskMustBeContiguous)
{
    for (const char* good : {"255.255.255.0", "255.255.255.255", "0.0.0.0", "255.255.254.0", "128.0.0.0",
                             "255.255.255.252"}) {
        EXPECT_TRUE(CTarvValidation::IsIpv4Netmask(good)) << good;
    }
    for (const char* bad : {"255.0.255.0", "0.255.255.255", "255.255.255.1", "255.255.253.0", "24", "/24",
                            "255.255.255.256"}) {
        EXPECT_FALSE(CTarvValidation::IsIpv4Netmask(bad)) << bad;
    }
}

TEST(Validation, Ipv6AddressAndPrefix)
{
    for (const char* good : {"fe80::0201:87ff:fe12:3456", "::1", "::", "2001:db8::1", "::ffff:10.0.0.1",
                             "FE80:0:0:0:201:87FF:FE12:3456"}) {
        EXPECT_TRUE(CTarvValidation::IsIpv6Address(good)) << good;
    }
    for (const char* bad : {"fe80::1%plc0", "[::1]", "fe80::1/64", "1:2:3:4:5:6:7:8:9", "fe80:::1", "12345::",
                            "10.0.0.1", "g::1"}) {
        EXPECT_FALSE(CTarvValidation::IsIpv6Address(bad)) << bad;
    }
    for (const char* good : {"0", "64", "128"}) {
        EXPECT_TRUE(CTarvValidation::IsIpv6PrefixLength(good)) << good;
    }
    for (const char* bad : {"129", "064", "-1", "255.255.255.0", "6 4"}) {
        EXPECT_FALSE(CTarvValidation::IsIpv6PrefixLength(bad)) << bad;
    }
}

TEST(Validation, HostnameFollowsRfc1123)
{
    const std::string label63(63, 'a');
    for (const std::string& good : {"charger-1"s, "EV-Charger-00-00-000-000"s, "1charger"s, "a"s, label63,
                                    "charger.example.com"s, label63 + "." + label63}) {
        EXPECT_TRUE(CTarvValidation::IsHostname(good)) << good;
    }
    for (const std::string& bad : {"-charger"s, "charger-"s, "char_ger"s, label63 + "a"s, "charger."s, ".charger"s,
                                   "a..b"s, "chärger"s, "char ger"s, "a.-b"s}) {
        EXPECT_FALSE(CTarvValidation::IsHostname(bad)) << bad;
    }
    std::string tooLong = label63 + "." + label63 + "." + label63 + "." + label63; // 255 characters
    EXPECT_FALSE(CTarvValidation::IsHostname(tooLong));
    EXPECT_TRUE(CTarvValidation::IsHostname(tooLong.substr(0, 253)));
}

TEST(Validation, PrintableEscapesWhatWouldBreakALogLine)
{
    EXPECT_EQ(CTarvValidation::Printable("10.0.0.1\npre-up x"), "10.0.0.1\\x0apre-up x");
    EXPECT_EQ(CTarvValidation::Printable("a\\b\t\x7f"), "a\\x5cb\\x09\\x7f");
    EXPECT_EQ(CTarvValidation::Printable(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(CTarvValidation::Printable("charger-1"), "charger-1");
}
