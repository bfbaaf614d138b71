#include "src/components/handlers/hostsystem.h"

#include "platform/toolbox/uniquefd.h"

#include <fcntl.h>
#include <ifaddrs.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>

std::optional<std::vector<IHostSystem::SIpv4Address>> CHostSystem::Ipv4Addresses()
{
    ifaddrs* rawList = nullptr;
    if (getifaddrs(&rawList) != 0) {
        return std::nullopt;
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(rawList, &freeifaddrs);
    std::vector<SIpv4Address> addresses;
    for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr ||
            entry->ifa_addr->sa_family != AF_INET || entry->ifa_netmask->sa_family != AF_INET) {
            continue;
        }
        SIpv4Address address;
        address.interfaceName = entry->ifa_name;
        address.address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        address.netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr;
        addresses.push_back(std::move(address));
    }
    return addresses;
}

std::vector<int> CHostSystem::ProcessIds()
{
    std::vector<int> pids;
    std::error_code error;
    // Processes come and go while the directory is read: an error ends the
    // list with what was read so far, never with an exception.
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename();
        if (!name.empty() && name.size() < 10 && name.find_first_not_of("0123456789") == std::string::npos) {
            pids.push_back(std::stoi(name));
        }
    }
    return pids;
}

std::string CHostSystem::ProcessFile(int pid, const std::string& entry)
{
    // Read with plain calls: a process that ends while its file is read
    // makes read() fail (ESRCH), which a stream buffer turns into an
    // exception, and the caller only wants to know the process is gone.
    const std::string path = "/proc/" + std::to_string(pid) + "/" + entry;
    const CUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string content;
    if (!file.IsOpen()) {
        return content;
    }
    char buffer[4096];
    while (content.size() < kMaxProcessFile) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return {};
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
}

int CHostSystem::SignalProcess(int pid, int signalNumber)
{
    return kill(pid, signalNumber) == 0 ? 0 : errno;
}
