#include "src/components/system/tarvdnsmanager.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/fsutils.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/resolverpaths.h"
#include "src/components/system/systemfilerender.h"
#include "src/components/system/tarvfileutilities.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

CTarvDnsManager::CTarvDnsManager(std::string interfaceName, std::string directory,
                                 std::shared_ptr<IRunCommand> runCommand)
    : mInterfaceName(std::move(interfaceName)), mDirectory(std::move(directory)), mRunCommand(std::move(runCommand))
{
}

bool CTarvDnsManager::SetDnsServers(const std::vector<std::string>& servers)
{
    TLOG_FUNCTION();
    mOpenFailureReported.store(false);

    // Empty entries (an unset alternative server, say) are left out.
    for (const auto& server : servers) {
        if (!server.empty() && !CTarvValidation::IsIpAddress(server)) {
            TLOG_ERROR("Can't set static DNS servers for {}, '{}' is not an IP address.", mInterfaceName,
                       CTarvValidation::Printable(server));
            return false;
        }
    }
    const std::string content = RenderResolverFile(servers);
    if (content.empty()) {
        TLOG_ERROR("Can't set static DNS servers for {}, none were provided.", mInterfaceName);
        return false;
    }

    const std::string path = CRootDir::Resolve(GetOwnFilePath());
    TLOG_INFO("Writing DNS content: '{}', to file: {}", content, path);
    if (!WriteToFile(path, content)) {
        TLOG_ERROR("Failed to add DNS servers to {}", path);
        return false;
    }
    UpdateSystemResolvConf();
    return true;
}

bool CTarvDnsManager::ClearDnsServers()
{
    TLOG_FUNCTION();
    const std::string path = CRootDir::Resolve(GetOwnFilePath());
    std::error_code error;
    if (!std::filesystem::remove(path, error)) {
        if (error) {
            TLOG_ERROR("Failed to remove {}: {}", path, error.message());
        }
        return false;
    }
    TLOG_INFO("Removed the DNS servers set for {} ({})", mInterfaceName, path);
    UpdateSystemResolvConf();
    return true;
}

std::optional<std::queue<std::string>> CTarvDnsManager::GetDnsServers()
{
    std::string path = CRootDir::Resolve(GetOwnFilePath());
    std::ifstream in(path);
    if (!in.is_open()) {
        path = CRootDir::Resolve(GetLeaseFilePath());
        in.open(path);
    }
    if (!in.is_open()) {
        if (!mOpenFailureReported.exchange(true)) {
            TLOG_ERROR("Failed to open {} for reading.", path);
        }
        return std::nullopt;
    }
    // Line by line: a line of another length ("search a.lan b.lan", as a
    // DHCP client writes for several domains) must not shift the words of
    // the lines after it.
    std::queue<std::string> servers;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string key;
        std::string value;
        if (words >> key >> value && key == "nameserver") {
            servers.push(value);
        }
    }
    if (servers.empty()) {
        TLOG_WARN("No DNS servers found in {}.", path);
        return std::nullopt;
    }
    return servers;
}

void CTarvDnsManager::UpdateSystemResolvConf()
{
    TLOG_FUNCTION();
    const std::string script = CRootDir::Resolve(Tarv::kSetResolvScript);
    TLOG_INFO("Updating /etc/resolv.conf via {}", script);
    std::string output;
    if (CFsUtils::RunSystemCmd(script, output) != 0) {
        TLOG_ERROR("Could not update /etc/resolv.conf, error {}", output);
    }
}
