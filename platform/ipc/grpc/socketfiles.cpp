#include "platform/ipc/grpc/socketfiles.h"

#include "platform/ipc/grpc/ipclog.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace IpcGrpc {

bool SocketIsServed(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const bool served = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return served;
}

void PrepareSocketDirectory(const std::string& socketPath)
{
    const std::filesystem::path directory = std::filesystem::path(socketPath).parent_path();
    std::vector<std::filesystem::path> missing;
    for (auto p = directory; !p.empty() && !std::filesystem::exists(p); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (mkdir(it->c_str(), 0750) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot create the socket directory '" + it->string() +
                                     "': " + std::strerror(errno));
        }
        chmod(it->c_str(), 0750); // independent of the umask
    }
}

void RemoveStaleSocket(const std::string& socketPath)
{
    struct stat info {};
    if (lstat(socketPath.c_str(), &info) != 0) {
        return;
    }
    if (!S_ISSOCK(info.st_mode)) {
        throw std::runtime_error("'" + socketPath + "' exists and is not a socket; refusing to replace it");
    }
    if (SocketIsServed(socketPath)) {
        throw std::runtime_error("'" + socketPath + "' is already served by another process");
    }
    Log(ELevel::info, "Removing stale socket '{}'", socketPath);
    unlink(socketPath.c_str());
}

} // namespace IpcGrpc
