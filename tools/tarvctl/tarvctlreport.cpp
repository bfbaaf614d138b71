#include "tools/tarvctl/tarvctlreport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fstream>
#include <ifaddrs.h>
#include <memory>
#include <netinet/in.h>
#include <regex>

namespace {

constexpr std::size_t kMaxLines = 400;

std::string FirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    return file && std::getline(file, line) ? line : std::string();
}

} // namespace

Json::Value CTarvCtlReport::System() const
{
    Json::Value system;
    system["hostname"] = Lines("etc/hostname", false);
    system["resolv.conf"] = Lines("etc/resolv.conf", false);
    system["interfacesFile"] = Lines("etc/network/interfaces", true);
    system["links"] = Links();
    system["addresses"] = Addresses();
    return system;
}

Json::Value CTarvCtlReport::Lines(const std::string& relativePath, bool maskSecrets) const
{
    std::ifstream file(mRoot + relativePath);
    if (!file) {
        return Json::Value();
    }
    static const std::regex secret("(psk|pass|secret|key)", std::regex::icase);
    Json::Value lines(Json::arrayValue);
    std::string line;
    while (lines.size() < kMaxLines && std::getline(file, line)) {
        if (maskSecrets && std::regex_search(line, secret)) {
            const auto start = line.find_first_not_of(" \t");
            const auto end = line.find_first_of(" \t", start == std::string::npos ? 0 : start);
            line = line.substr(0, end) + " ********";
        }
        lines.append(line);
    }
    return lines;
}

Json::Value CTarvCtlReport::Links() const
{
    Json::Value links(Json::objectValue);
    const std::string directory = mRoot + "sys/class/net/";
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
    if (!dir) {
        return Json::Value();
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        Json::Value link;
        for (const char* attribute : {"operstate", "carrier", "address", "mtu"}) {
            const std::string value = FirstLine(directory + name + "/" + attribute);
            link[attribute] = value.empty() ? Json::Value() : Json::Value(value);
        }
        links[name] = link;
    }
    return links;
}

Json::Value CTarvCtlReport::Addresses() const
{
    if (mRoot != "/") {
        return Json::Value("not asked: only with the root /");
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return Json::Value();
    }
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, ::freeifaddrs);
    Json::Value addresses(Json::objectValue);
    for (const ifaddrs* item = list; item; item = item->ifa_next) {
        if (!item->ifa_addr || (item->ifa_addr->sa_family != AF_INET && item->ifa_addr->sa_family != AF_INET6)) {
            continue;
        }
        char text[INET6_ADDRSTRLEN] = {};
        const void* address = item->ifa_addr->sa_family == AF_INET
                                  ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr)
                                  : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(item->ifa_addr)->sin6_addr);
        if (::inet_ntop(item->ifa_addr->sa_family, address, text, sizeof text)) {
            addresses[item->ifa_name].append(text);
        }
    }
    return addresses;
}
