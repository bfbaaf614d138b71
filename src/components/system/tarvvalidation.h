#pragma once
// Checks for configuration values before they reach a system file or a
// command line. Each check accepts only the plain textual form of its kind:
// no surrounding or embedded white space, no control characters, no line ends.

#include <string>
#include <string_view>

class CTarvValidation {
public:
    // Dotted-decimal IPv4 address: four decimal parts 0..255 without leading
    // zeros ("192.168.1.50"; not "192.168.001.050", which some tools read as octal).
    static bool IsIpv4Address(std::string_view text);
    // An IPv4 address whose bits are ones followed by zeros ("255.255.255.0",
    // "0.0.0.0" and "255.255.255.255" included; "255.0.255.0" is not a mask).
    static bool IsIpv4Netmask(std::string_view text);
    // IPv6 address in any standard textual form ("fe80::201:87ff:fe12:3456",
    // "::1", "::ffff:10.0.0.1"); no zone index, no brackets, no prefix length.
    static bool IsIpv6Address(std::string_view text);
    // IPv6 prefix length as written after "netmask" for an inet6 stanza: 0..128.
    static bool IsIpv6PrefixLength(std::string_view text);
    // Host name after RFC 1123: one or more labels separated by single dots,
    // each 1..63 letters, digits and hyphens, not beginning or ending with a
    // hyphen; 253 characters at most in all. Dots are allowed so that a fully
    // qualified name is accepted; callers with a tighter limit (the kernel's
    // host name length) check it themselves.
    static bool IsHostname(std::string_view text);

    // The text with control characters, backslashes and bytes above 0x7e
    // written as \xNN, so that a refused value can be quoted in a log line
    // without breaking it. Never use it on secrets.
    static std::string Printable(std::string_view text);
};
