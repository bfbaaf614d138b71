#include "src/roothostnamemanager.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

#include <cstring>
#include <fstream>
#include <string>

int CRootHostnameManager::SysGetHostname(char* buffer, std::size_t size)
{
    std::string name;
    std::ifstream file(CRootDir::Resolve("/etc/hostname"));
    if (file) {
        std::getline(file, name);
    }
    if (size == 0 || name.size() >= size) {
        return -1;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return 0;
}

int CRootHostnameManager::SysSetHostname(const char* name, std::size_t length)
{
    if (!mToldOnce.exchange(true)) {
        TLOG_INFO("Root directory '{}' is not '/': host name '{}' set in its files only, the machine's own name "
                  "is left alone",
                  CRootDir::Get(), std::string(name, length));
    }
    return 0;
}
