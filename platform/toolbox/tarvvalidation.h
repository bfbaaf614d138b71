#pragma once
// Checks for configuration values before they reach a system file or a
// command line. Each check accepts only the plain textual form of its kind:
// no surrounding or embedded white space, no control characters, no line ends.

#include <cstddef>
#include <string>
#include <string_view>

class CTarvValidation {
public:
    // Dotted-decimal IPv4 address: four decimal parts 0..255 without leading
    // zeros ("192.168.1.50"; not "192.168.001.050", which some tools read as octal).
    static bool IsIpv4Address(std::string_view text);
    // An IPv4 address a host can be given or route through: not the
    // unspecified address 0.0.0.0 nor the broadcast address 255.255.255.255.
    static bool IsIpv4HostAddress(std::string_view text);
    // An IPv4 address whose bits are ones followed by zeros, leaving room for
    // a network and a host ("255.255.255.0"; not "255.0.255.0", "0.0.0.0" or
    // "255.255.255.255").
    static bool IsIpv4Netmask(std::string_view text);
    // IPv6 address in any standard textual form ("fe80::201:87ff:fe12:3456",
    // "::1", "::ffff:10.0.0.1"); no zone index, no brackets, no prefix length.
    static bool IsIpv6Address(std::string_view text);
    // IPv6 prefix length as written after "netmask" for an inet6 stanza: 0..128.
    static bool IsIpv6PrefixLength(std::string_view text);
    // A host name that is safe wherever the daemon puts it (/etc/hostname,
    // /etc/hosts, the interfaces file, command lines, the access point's
    // name): see kHostnameRule. A leading hyphen would read as an option;
    // empty labels and hyphens at a label's end are refused by resolvers and
    // DHCP servers. Names that are merely unusual ("EV_Charger_1") pass:
    // refusing them would cost the station its network.
    // Callers with a tighter limit (the kernel's host name length) check it
    // themselves.
    static bool IsHostname(std::string_view text);
    // A domain name as DNS defines it (RFC 1123): labels of 1..63 letters,
    // digits and hyphens, no hyphen at either end of a label, 253 characters
    // at most, one optional trailing dot, last label not all digits (which
    // resolvers could read as an abbreviated IPv4 address). For names that
    // must resolve or be published; a host name that fails it may still be
    // used locally (see IsHostname).
    static bool IsDomainName(std::string_view text);
    // Only the digits 0-9, a-f and A-F, whatever the locale; empty passes.
    static bool IsHexText(std::string_view text);

    // The text with control characters, backslashes and bytes above 0x7e
    // written as \xNN, so that a refused value can be quoted in a log line
    // without breaking it. A text longer than kMaxPrintable bytes is cut
    // there and followed by "... (N bytes)", so a huge value costs a log line
    // of bounded length. Never use it on secrets.
    static std::string Printable(std::string_view text);
    static constexpr std::size_t kMaxPrintable = 64;

    // The rules, for error messages that say what a refused value lacks.
    static constexpr const char* kIpv4HostAddressRule =
        "four decimal numbers 0 to 255 separated by dots, without leading zeros, neither 0.0.0.0 nor "
        "255.255.255.255";
    static constexpr const char* kIpv4NetmaskRule =
        "an IPv4 address of ones followed by zeros, such as 255.255.255.0, neither 0.0.0.0 nor 255.255.255.255";
    static constexpr const char* kHostnameRule =
        "1 to 253 letters, digits, hyphens, underscores and dots, in labels between dots that are not empty "
        "and neither begin nor end with a hyphen";
};
