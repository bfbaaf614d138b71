#include "platform/ipc/grpc/socketfiles.h"

#include "platform/ipc/grpc/ipclog.h"

#include <fcntl.h>
#include <stdio.h>
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
namespace {

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void SetGroup(const std::string& path, std::optional<gid_t> group)
{
    if (group && lchown(path.c_str(), static_cast<uid_t>(-1), *group) != 0) {
        Fail("cannot give '" + path + "' the group " + std::to_string(*group));
    }
}

// The errno of a connection attempt that never blocks: 0 when a process
// accepts (or will accept: EAGAIN, EINPROGRESS) connections on the socket.
int ConnectError(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return errno;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    int error = 0;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        error = errno;
    }
    close(fd);
    return (error == EAGAIN || error == EINPROGRESS) ? 0 : error;
}

} // namespace

void PrepareSocketDirectory(const std::string& socketPath, std::optional<gid_t> group)
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
            Fail("cannot create the socket directory '" + it->string() + "'");
        }
        chmod(it->c_str(), 0750); // independent of the umask
        SetGroup(*it, group);
    }
    // An existing directory that others may write to (without the sticky
    // bit that keeps them from replacing our sockets) is set as a new one.
    // Anything narrower, /run for instance, stays as it is.
    struct stat info {};
    if (missing.empty() && lstat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode)
        && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0) {
        Log(ELevel::warning, "Socket directory '{}' was writable by others (mode {:o}); setting mode 750",
            directory.string(), info.st_mode & 07777);
        if (chmod(directory.c_str(), 0750) != 0) {
            Fail("cannot set the mode of the socket directory '" + directory.string() + "'");
        }
        SetGroup(directory, group);
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
    const int error = ConnectError(socketPath);
    if (error == 0) {
        throw std::runtime_error("'" + socketPath + "' is already served by another process");
    }
    if (error == ENOENT) {
        return; // gone in the meantime
    }
    if (error != ECONNREFUSED) {
        throw std::runtime_error("cannot tell whether '" + socketPath + "' is still served (" +
                                 std::strerror(error) + "); refusing to replace it");
    }
    Log(ELevel::info, "Removing stale socket '{}'", socketPath);
    unlink(socketPath.c_str());
}

CStagedSocket::CStagedSocket(std::string finalPath, std::optional<gid_t> group)
    : mFinalPath(std::move(finalPath)), mGroup(group)
{
    const std::string parent = std::filesystem::path(mFinalPath).parent_path().string();
    std::string pattern = parent + "/.bind-XXXXXX";
    if (pattern.size() + 2 >= sizeof(sockaddr_un::sun_path)) {
        mBindPath = mFinalPath;
        return;
    }
    if (mkdtemp(pattern.data()) == nullptr) {
        Fail("cannot create a directory beside '" + mFinalPath + "'");
    }
    mDirectory = pattern;
    mBindPath = mDirectory + "/s";
}

CStagedSocket::~CStagedSocket()
{
    if (!mDirectory.empty()) {
        if (!mPublished) {
            unlink(mBindPath.c_str());
        }
        rmdir(mDirectory.c_str());
    }
}

void CStagedSocket::Publish()
{
    if (chmod(mBindPath.c_str(), 0660) != 0) {
        Fail("cannot set the mode of socket '" + mBindPath + "'");
    }
    SetGroup(mBindPath, mGroup);
    if (!mDirectory.empty()) {
        if (renameat2(AT_FDCWD, mBindPath.c_str(), AT_FDCWD, mFinalPath.c_str(), RENAME_NOREPLACE) != 0) {
            Fail("cannot move the socket to '" + mFinalPath + "'");
        }
    }
    mPublished = true;
}

} // namespace IpcGrpc
