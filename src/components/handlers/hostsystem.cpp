#include "src/components/handlers/hostsystem.h"

#include <ifaddrs.h>
#include <signal.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    std::ifstream file("/proc/" + std::to_string(pid) + "/" + entry, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

int CHostSystem::SignalProcess(int pid, int signalNumber)
{
    return kill(pid, signalNumber) == 0 ? 0 : errno;
}
