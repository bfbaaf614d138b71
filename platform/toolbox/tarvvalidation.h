#pragma once
// The rules every value from the configuration or from a peer passes before
// it reaches a system file, a command line or an AT command: one function
// per rule, and, where an error message states it, the rule in words beside
// it. Each check accepts only the plain textual form of its kind: no
// surrounding or embedded white space, no control characters, no line ends,
// unless its rule says otherwise.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CTarvValidation {
public:
    CTarvValidation() = delete;

    // Dotted-decimal IPv4 address: four decimal parts 0..255 without leading
    // zeros ("192.168.1.50"; not "192.168.001.050", which some tools read as octal).
    static bool IsIpv4Address(std::string_view text);
    // An IPv4 address a host can be given or route through: not the
    // unspecified address 0.0.0.0 nor the broadcast address 255.255.255.255.
    static bool IsIpv4HostAddress(std::string_view text);
    static constexpr const char* kIpv4HostAddressRule =
        "four decimal numbers 0 to 255 separated by dots, without leading zeros, neither 0.0.0.0 nor "
        "255.255.255.255";
    // An IPv4 address whose bits are ones followed by zeros, leaving room for
    // a network and a host ("255.255.255.0"; not "255.0.255.0", "0.0.0.0" or
    // "255.255.255.255").
    static bool IsIpv4Netmask(std::string_view text);
    static constexpr const char* kIpv4NetmaskRule =
        "an IPv4 address of ones followed by zeros, such as 255.255.255.0, neither 0.0.0.0 nor 255.255.255.255";
    // IPv6 address in any standard textual form ("fe80::201:87ff:fe12:3456",
    // "::1", "::ffff:10.0.0.1"); no zone index, no brackets, no prefix length.
    static bool IsIpv6Address(std::string_view text);
    static constexpr const char* kIpv6AddressRule = "an IPv6 address without zone, brackets or prefix length";
    // IPv6 prefix length as written after "netmask" for an inet6 stanza: 0..128.
    static bool IsIpv6PrefixLength(std::string_view text);
    static constexpr const char* kIpv6PrefixLengthRule = "a decimal number 0 to 128 without leading zeros";
    // An IPv4 or IPv6 address (a DNS server, say).
    static bool IsIpAddress(std::string_view text);

    // A host name that is safe wherever the daemon puts it (/etc/hostname,
    // /etc/hosts, the interfaces file, command lines, the access point's
    // name). A leading hyphen would read as an option; empty labels and
    // hyphens at a label's end are refused by resolvers and DHCP servers.
    // Names that are merely unusual ("EV_Charger_1") pass: refusing them
    // would cost the station its network. Callers with a tighter limit (the
    // kernel's host name length) check it themselves.
    static bool IsHostname(std::string_view text);
    static constexpr const char* kHostnameRule =
        "1 to 253 letters, digits, hyphens, underscores and dots, in labels between dots that are not empty "
        "and neither begin nor end with a hyphen";
    // A domain name as DNS defines it (RFC 1123): labels of 1..63 letters,
    // digits and hyphens, no hyphen at either end of a label, 253 characters
    // at most, one optional trailing dot, last label not all digits (which
    // resolvers could read as an abbreviated IPv4 address). For names that
    // must resolve or be published; a host name that fails it may still be
    // used locally (see IsHostname).
    static bool IsDomainName(std::string_view text);
    // A server to reach by name or address (a time server): a domain name or
    // an IPv4 or IPv6 address.
    static bool IsServerName(std::string_view text);

    // Only the digits 0-9, a-f and A-F, whatever the locale; empty passes.
    static bool IsHexText(std::string_view text);
    // Six pairs of hexadecimal digits separated by colons, either letter case.
    static bool IsMacAddress(std::string_view text);

    // A WLAN network name: 1 to 32 bytes, without NUL, carriage return or
    // line feed (any other byte is a valid SSID).
    static bool IsWlanSsid(std::string_view text);
    // A WPA passphrase: 8 to 63 printable ASCII characters (0x20..0x7e). The
    // access point writes it onto a line of its configuration file, where a
    // line break would add settings of its own.
    static bool IsWlanPassphrase(std::string_view text);
    static constexpr const char* kWlanPassphraseRule = "8 to 63 printable ASCII characters";
    static constexpr std::size_t kMinWlanPassphraseLength = 8;
    static constexpr std::size_t kMaxWlanPassphraseLength = 63;
    // A raw pre-shared key: exactly 64 hexadecimal digits.
    static bool IsWlanRawKey(std::string_view text);
    // What a station may join with: a passphrase or a raw key.
    static bool IsWlanPassword(std::string_view text);

    // A SIM PIN: 4 to 8 decimal digits.
    static bool IsSimPin(std::string_view text);
    // A value the modem receives inside double quotes (APN name, user,
    // password): no '"', which would end the quoted field, and no control
    // character (CR ends the command line, backspace edits it).
    static bool IsQuotableText(std::string_view text);
    // The modem's code of a configured authentication or IP type; nullopt
    // for any other text.
    static std::optional<std::string> ModemAuthCode(std::string_view text);
    static std::optional<std::string> ModemIpTypeCode(std::string_view text);

    // A signed decimal number as the modem writes it in an answer (leading
    // blanks skipped, trailing text ignored); error receives the reason.
    enum class EConversion { Ok, NoNumber, OutOfRange };
    static EConversion ToInt32(const std::string& text, std::int32_t& value, std::string& error);

    // The text with control characters, backslashes and bytes above 0x7e
    // written as \xNN, so that a refused value can be quoted in a log line
    // without breaking it. A text longer than kMaxPrintable bytes is cut
    // there and followed by "... (N bytes)", so a huge value costs a log line
    // of bounded length. Never use it on secrets.
    static std::string Printable(std::string_view text);
    static constexpr std::size_t kMaxPrintable = 64;
};
