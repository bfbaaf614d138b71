#include "platform/toolbox/toolbox.h"

#include "platform/log/log.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/timex.h>

#include <cerrno>
#include <system_error>

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
