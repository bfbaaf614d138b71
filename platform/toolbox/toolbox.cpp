#include "platform/toolbox/toolbox.h"

#include "platform/log/log.h"
#include "platform/toolbox/tarvvalidation.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/timex.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

constexpr std::size_t kMaxSsidLength = 32;
constexpr std::size_t kMinPassphraseLength = 8;
constexpr std::size_t kMaxPassphraseLength = 63;
constexpr std::size_t kRawPskLength = 64;

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
    return CTarvValidation::IsIpv4Address(text);
}

bool Toolbox::IsIpv6Literal(const std::string& text)
{
    return CTarvValidation::IsIpv6Address(text);
}

bool Toolbox::ValidateDomain(const std::string& domain)
{
    return CTarvValidation::IsDomainName(domain) || IsIpv4Literal(domain) || IsIpv6Literal(domain);
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
        return CTarvValidation::IsHexText(password);
    }
    if (password.size() < kMinPassphraseLength || password.size() > kMaxPassphraseLength) {
        return false;
    }
    return std::all_of(password.begin(), password.end(),
                       [](char c) { return c >= 0x20 && c <= 0x7e; });
}
