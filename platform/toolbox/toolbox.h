#pragma once
// Small system helpers: clock synchronisation status, name resolution and
// the validators that every externally supplied host name, SSID or WLAN
// passphrase passes before it reaches a command line or a system file.

#include <string>

class Toolbox {
public:
    Toolbox() = delete;

    // 0 while the kernel clock is not synchronised (or its state cannot be
    // read), 1 once it is.
    static int GetNtpSyncStatus();

    // Non-zero when the name (or address literal) resolves to at least one
    // address. A failure is logged at error level unless quiet is set.
    static int ResolveHost(const std::string& host, bool quiet);

    // A domain name (CTarvValidation::IsDomainName) or an IPv4 / IPv6
    // address literal (CTarvValidation::IsIpv4Address / IsIpv6Address).
    static bool ValidateDomain(const std::string& domain);

    // 1 to 32 bytes, without NUL, carriage return or line feed.
    static bool ValidateWlanSsid(const std::string& ssid);

    // 8 to 63 printable ASCII characters (0x20..0x7E), or exactly 64
    // hexadecimal digits (a raw pre-shared key).
    static bool ValidateWlanPassword(const std::string& password);

    static bool IsIpv4Literal(const std::string& text);
    static bool IsIpv6Literal(const std::string& text);
};
