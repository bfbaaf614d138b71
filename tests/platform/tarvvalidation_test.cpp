#include "platform/toolbox/tarvvalidation.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

// Which checks accept a value.
enum : unsigned {
    kNone = 0,
    kIpv4 = 1,    // IsIpv4Address
    kMask = 2,    // IsIpv4Netmask
    kIpv6 = 4,    // IsIpv6Address
    kPrefix = 8,  // IsIpv6PrefixLength
    kHost = 16,   // IsHostname
    kDomain = 32, // IsServerName: a domain name or an address
    kAddr = 64,   // IsIpv4HostAddress
};

TEST(Validation, EveryCheckAgainstOneTable)
{
    const std::string label63(63, 'a');
    const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    const std::vector<std::pair<std::string, unsigned>> cases = { // value, the checks that accept it
        // IPv4 addresses and netmasks.
        {"192.168.1.50", kIpv4 | kAddr | kHost | kDomain}, {"0.0.0.0", kIpv4 | kHost | kDomain},
        {"255.255.254.0", kIpv4 | kAddr | kMask | kHost | kDomain}, {"255.255.255.255", kIpv4 | kHost | kDomain},
        {"255.0.255.0", kIpv4 | kAddr | kHost | kDomain}, {"255.255.255.1", kIpv4 | kAddr | kHost | kDomain},
        {"128.0.0.0", kIpv4 | kAddr | kMask | kHost | kDomain}, {"255.255.255.254", kIpv4 | kAddr | kMask | kHost | kDomain},
        // Leading zeros read as octal by some tools; malformed dotted forms.
        {"192.168.001.050", kHost}, {"256.0.0.1", kHost}, {"1.2.3", kHost}, {"1.2.3.4.5", kHost},
        {"0x7f.0.0.1", kHost}, {"1.2.3.4/24", kNone},
        // IPv6 addresses and prefix lengths.
        {"fe80::0201:87ff:fe12:3456", kIpv6 | kDomain}, {"::1", kIpv6 | kDomain},
        {"::ffff:10.0.0.1", kIpv6 | kDomain}, {"FE80:0:0:0:201:87FF:FE12:3456", kIpv6 | kDomain},
        {"fe80::1%plc0", kNone}, {"[::1]", kNone}, {"fe80:::1", kNone}, {"1:2:3:4:5:6:7:8:9", kNone},
        {"0", kPrefix | kHost}, {"128", kPrefix | kHost}, {"129", kHost}, {"064", kHost},
        // Host names: what is merely unusual passes, DNS names are stricter.
        {"charger-1", kHost | kDomain}, {"EV_Charger_1", kHost}, {"charger.example.com", kHost | kDomain},
        {"EXAMPLE.com.", kDomain}, {"xn--bcher-kva.example", kHost | kDomain}, {"charger-", kNone},
        {"a..b", kNone}, {"a-.b", kNone}, {"a.-b", kNone}, {label63 + "a.com", kHost}, {name253, kHost | kDomain}, {name253 + ".", kDomain},
        {name253 + "b", kNone}, {"-charger", kNone}, {".charger", kNone}, {"ch\xc3\xa4rger", kNone},
        // Hostile: extra lines, words, quoting or shell syntax where the value lands.
        {"", kNone}, {" ", kNone}, {"10.0.0.1\npre-up touch /tmp/owned", kNone},
        {"charger\npre-up rm -rf /", kNone}, {"10.0.0.1 ", kNone}, {" 10.0.0.1", kNone}, {"10.0.0.1\r", kNone},
        {"charger\t1", kNone}, {"fe80::1\n", kNone}, {"host\0name"s, kNone}, {"10.0.0.1\0"s, kNone},
        // Names are checked against the allowed characters: one row stands for every other one.
        {"::1\0x"s, kNone}, {"charger;reboot", kNone}, {"$(reboot)", kNone}, {"a'b", kNone},
    };
    for (const auto& [value, accepted] : cases) {
        SCOPED_TRACE(CTarvValidation::Printable(value));
        EXPECT_EQ(CTarvValidation::IsIpv4Address(value), (accepted & kIpv4) != 0);
        EXPECT_EQ(CTarvValidation::IsIpv4HostAddress(value), (accepted & kAddr) != 0);
        EXPECT_EQ(CTarvValidation::IsIpv4Netmask(value), (accepted & kMask) != 0);
        EXPECT_EQ(CTarvValidation::IsIpv6Address(value), (accepted & kIpv6) != 0);
        EXPECT_EQ(CTarvValidation::IsIpv6PrefixLength(value), (accepted & kPrefix) != 0);
        EXPECT_EQ(CTarvValidation::IsHostname(value), (accepted & kHost) != 0);
        EXPECT_EQ(CTarvValidation::IsServerName(value), (accepted & kDomain) != 0);
        EXPECT_EQ(CTarvValidation::IsIpAddress(value), (accepted & (kIpv4 | kIpv6)) != 0);
    }
    // What would break a log line is escaped.
    EXPECT_EQ(CTarvValidation::Printable("1\npre-up x\\\t\x7f\r\0b"s), "1\\x0apre-up x\\x5c\\x09\\x7f\\x0d\\x00b");
    // A huge value is cut: the log line stays short and says how long it was.
    EXPECT_EQ(CTarvValidation::Printable(std::string(64, 'a')), std::string(64, 'a'));
    EXPECT_EQ(CTarvValidation::Printable(std::string(1 << 20, 'x')), std::string(64, 'x') + "... (1048576 bytes)");
}

TEST(Validation, WlanSsidPassphraseAndRawKey)
{
    const std::vector<std::tuple<std::string, bool, bool, bool>> cases = { // value, SSID, passphrase, raw key
        {"S", true, false, false}, {std::string(32, 'x'), true, true, false},
        {"My \"home\" net; $(x)", true, true, false}, // any other byte is allowed in both
        {"Caf\xc3\xa9 \xe2\x98\x95", true, false, false},
        {std::string(31, 'x') + "\xc3\xa9", false, false, false}, // 33 bytes
        {"", false, false, false}, {"ab\0cd"s, false, false, false}, {"line\nnext", false, false, false},
        {"line\r", false, false, false}, {"12345678", true, true, false}, {"1234567", true, false, false},
        {std::string(63, '~'), false, true, false}, {std::string(64, 'a'), false, false, true},
        {std::string(63, 'a') + "g", false, false, false}, // a raw key is hex
        {std::string(65, 'a'), false, false, false}, {"pass\tword", true, false, false},
        {"pass\0word"s, false, false, false}, {"passw\xc3\xb6rd", true, false, false},
        {"password\x7f", true, false, false},
    };
    for (const auto& [value, ssid, passphrase, rawKey] : cases) {
        SCOPED_TRACE(CTarvValidation::Printable(value));
        EXPECT_EQ(CTarvValidation::IsWlanSsid(value), ssid);
        EXPECT_EQ(CTarvValidation::IsWlanPassphrase(value), passphrase);
        EXPECT_EQ(CTarvValidation::IsWlanRawKey(value), rawKey);
        EXPECT_EQ(CTarvValidation::IsWlanPassword(value), passphrase || rawKey);
    }
}

} // namespace
