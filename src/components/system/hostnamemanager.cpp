#include "src/components/system/hostnamemanager.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/systemfilerender.h"
#include "src/components/system/tarvfileutilities.h"

#include <unistd.h>

#include <climits>
#include <vector>

CHostnameManager::CHostnameManager(std::string hostsPath, std::string hostnamePath)
    : mHostsPath(std::move(hostsPath)), mHostnamePath(std::move(hostnamePath))
{
}

std::optional<std::string> CHostnameManager::GetHostname()
{
    // Room for the longest legal name and its terminator.
    std::vector<char> buffer(HOST_NAME_MAX + 1, '\0');
    if (SysGetHostname(buffer.data(), buffer.size()) != 0) {
        TLOG_ERROR("Failed to get system's hostname");
        return std::nullopt;
    }
    buffer.back() = '\0';
    return std::string(buffer.data());
}

bool CHostnameManager::SetHostname(const std::string& name)
{
    std::lock_guard lock(mSetMutex);
    if (name.size() > kMaxHostnameLength || !CTarvValidation::IsHostname(name)) {
        TLOG_ERROR("Refusing to set invalid hostname '{}'", CTarvValidation::Printable(name));
        return false;
    }

    const std::optional<std::string> current = GetHostname();
    // An empty name would match everywhere, and "localhost" names the
    // loopback entries the station needs whatever it is called.
    if (current && !current->empty() && *current != "localhost") {
        if (!EditFile(CRootDir::Resolve(mHostsPath),
                      [&](const std::string& hosts) { return RenderHosts(hosts, *current, name); })) {
            return false;
        }
    }
    if (!WriteToFile(CRootDir::Resolve(mHostnamePath), name + "\n")) {
        return false;
    }
    if (SysSetHostname(name.data(), name.size()) != 0) {
        TLOG_ERROR("Failed to set system's hostname.");
        return false;
    }
    return true;
}

int CHostnameManager::SysGetHostname(char* buffer, std::size_t size)
{
    return ::gethostname(buffer, size);
}

int CHostnameManager::SysSetHostname(const char* name, std::size_t length)
{
    return ::sethostname(name, length);
}
