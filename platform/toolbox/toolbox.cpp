#include "platform/toolbox/toolbox.h"

#include "platform/log/log.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/timex.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

constexpr std::size_t kMaxDomainLength = 253;
constexpr std::size_t kMaxLabelLength = 63;
constexpr std::size_t kMaxSsidLength = 32;
constexpr std::size_t kMinPassphraseLength = 8;
constexpr std::size_t kMaxPassphraseLength = 63;
constexpr std::size_t kRawPskLength = 64;

bool IsAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c)
{
    return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsValidLabel(std::string_view label)
{
    if (label.empty() || label.size() > kMaxLabelLength) {
        return false;
    }
    if (label.front() == '-' || label.back() == '-') {
        return false;
    }
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return IsAsciiLetterOrDigit(c) || c == '-'; });
}

bool IsValidHostName(const std::string& name)
{
    std::string_view rest(name);
    if (!rest.empty() && rest.back() == '.') {
        rest.remove_suffix(1); // the root label of a fully qualified name
    }
    if (rest.empty() || rest.size() > kMaxDomainLength) {
        return false;
    }
    std::string_view lastLabel;
    while (true) {
        const auto dot = rest.find('.');
        const std::string_view label = rest.substr(0, dot);
        if (!IsValidLabel(label)) {
            return false;
        }
        lastLabel = label;
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    // A name whose last label is all digits is a malformed address such as
    // "192.168.1.300" or "10.1"; the resolver would read some of them as
    // abbreviated IPv4 addresses, so they are refused.
    return !std::all_of(lastLabel.begin(), lastLabel.end(), IsAsciiDigit);
}

} // namespace

int Toolbox::GetNtpSyncStatus()
{
    struct timex tx {};
    tx.modes = 0; // read only
    const int state = ::ntp_adjtime(&tx);
    if (state == -1) {
        const int err = errno;
        TLOG_ERROR("ntp_adjtime failed: {}", std::generic_category().message(err));
        return 0;
    }
    if (state == TIME_ERROR || (tx.status & STA_UNSYNC) != 0) {
        return 0;
    }
    return 1;
}

int Toolbox::ResolveHost(const std::string& host, bool quiet)
{
    if (host.empty()) {
        if (!quiet) {
            TLOG_ERROR("Cannot resolve an empty host name");
        }
        return 0;
    }
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    struct addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        if (!quiet) {
            const int err = errno;
            const std::string reason = rc == EAI_SYSTEM ? std::generic_category().message(err)
                                                        : std::string(::gai_strerror(rc));
            TLOG_ERROR("Cannot resolve host '{}': {}", host, reason);
        }
        return 0;
    }
    const bool found = result != nullptr;
    ::freeaddrinfo(result);
    return found ? 1 : 0;
}

bool Toolbox::IsIpv4Literal(const std::string& text)
{
    in_addr address {};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool Toolbox::IsIpv6Literal(const std::string& text)
{
    in6_addr address {};
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool Toolbox::ValidateDomain(const std::string& domain)
{
    // inet_pton stops at an embedded NUL, so refuse those before asking it.
    if (domain.empty() || domain.find('\0') != std::string::npos) {
        return false;
    }
    return IsValidHostName(domain) || IsIpv4Literal(domain) || IsIpv6Literal(domain);
}

bool Toolbox::ValidateWlanSsid(const std::string& ssid)
{
    if (ssid.empty() || ssid.size() > kMaxSsidLength) {
        return false;
    }
    return ssid.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

bool Toolbox::ValidateWlanPassword(const std::string& password)
{
    if (password.size() == kRawPskLength) {
        return std::all_of(password.begin(), password.end(), IsHexDigit);
    }
    if (password.size() < kMinPassphraseLength || password.size() > kMaxPassphraseLength) {
        return false;
    }
    return std::all_of(password.begin(), password.end(),
                       [](char c) { return c >= 0x20 && c <= 0x7e; });
}
