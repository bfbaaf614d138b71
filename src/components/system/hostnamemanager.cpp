#include "src/components/system/hostnamemanager.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/system/tarvfileutilities.h"
#include "platform/toolbox/tarvvalidation.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

namespace {

// How much of the start of field is the name from: all of from when field
// is from or a longer name whose first label is from; 0 otherwise.
std::size_t RenamedLength(std::string_view field, std::string_view from)
{
    if (field.substr(0, from.size()) != from) {
        return 0;
    }
    return field.size() == from.size() || field[from.size()] == '.' ? from.size() : 0;
}

} // namespace

std::string CHostnameManager::RenameInHosts(const std::string& hosts, const std::string& from, const std::string& to)
{
    // Each line: an address, then names; '#' starts a comment. Only whole
    // names (or the first label of a longer name) change, so renaming
    // "host" leaves "localhost" alone.
    std::string renamed;
    renamed.reserve(hosts.size());
    std::size_t lineStart = 0;
    while (lineStart < hosts.size()) {
        std::size_t lineEnd = hosts.find('\n', lineStart);
        lineEnd = lineEnd == std::string::npos ? hosts.size() : lineEnd + 1;
        const std::string_view line(hosts.data() + lineStart, lineEnd - lineStart);
        const std::size_t comment = std::min(line.find('#'), line.size());
        std::size_t at = 0;
        bool address = true;
        while (at < comment) {
            const std::size_t fieldStart = line.find_first_not_of(" \t\r\n", at);
            if (fieldStart >= comment) {
                break;
            }
            renamed.append(line.substr(at, fieldStart - at));
            std::size_t fieldEnd = std::min(line.find_first_of(" \t\r\n", fieldStart), comment);
            const std::string_view field = line.substr(fieldStart, fieldEnd - fieldStart);
            const auto replaced = address ? 0 : RenamedLength(field, from);
            if (replaced > 0) {
                renamed.append(to);
                renamed.append(field.substr(replaced));
            } else {
                renamed.append(field);
            }
            address = false;
            at = fieldEnd;
        }
        renamed.append(line.substr(at));
        lineStart = lineEnd;
    }
    return renamed;
}

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
                      [&](const std::string& hosts) { return RenameInHosts(hosts, *current, name); })) {
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
