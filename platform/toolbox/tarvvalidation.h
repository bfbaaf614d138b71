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
    // A host name that is safe wherever the daemon puts it (/etc/hostname,
    // /etc/hosts, the interfaces file, command lines): 1..253 letters,
    // digits, hyphens, underscores and dots, not beginning with a hyphen (it
    // would read as an option) or a dot. Names that are merely unusual
    // ("EV_Charger_1") pass: refusing them would cost the station its network.
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
    // without breaking it. Never use it on secrets.
    static std::string Printable(std::string_view text);
};
