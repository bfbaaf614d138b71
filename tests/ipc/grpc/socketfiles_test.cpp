#include "platform/ipc/grpc/socketfiles.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

// A non-blocking Unix socket on path: bound and listening with the backlog
// (bound only when backlog is -1), or connecting when connect is set.
int Socket(const std::string& path, int backlog, bool connect = false)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (connect) {
        ::connect(fd, raw, sizeof(address));
    } else if (::bind(fd, raw, sizeof(address)) != 0 || (backlog >= 0 && ::listen(fd, backlog) != 0)) {
        throw std::runtime_error("test socket set-up failed");
    }
    return fd;
}

// The error RemoveStaleSocket raises ("" for none), in a child process that
// runs as the user nobody when asked (root may connect to any socket).
std::string RemoveError(const std::string& path, bool asNobody)
{
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        std::string error;
        try {
            if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                throw std::runtime_error("setuid failed");
            }
            IpcGrpc::RemoveStaleSocket(path);
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        (void)!::write(fds[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string error;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof(buffer))) > 0;) {
        error.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return error;
}

TEST(SocketFiles, OnlyASocketNobodyListensOnIsReplaced)
{
    const struct {
        const char* name;
        void (*make)(const std::string& path);
        bool asNobody;
        const char* error; // "" when the file is removed
    } cases[] = {
        {"stale", [](const std::string& p) { Socket(p, -1); }, false, ""},
        {"served", [](const std::string& p) { Socket(p, 8); }, false, "already served"},
        // A connection attempt that would block must neither hang nor count as stale.
        {"served, backlog full",
         [](const std::string& p) {
             Socket(p, 0);
             Socket(p, 0, true);
             Socket(p, 0, true);
         },
         false, "already served"},
        {"no permission to connect",
         [](const std::string& p) {
             Socket(p, 8);
             ::chmod(p.c_str(), 0600);
         },
         true, "cannot tell whether"},
        {"not a socket", [](const std::string& p) { std::ofstream(p) << "x"; }, false, "is not a socket"},
    };
    for (const auto& c : cases) {
        TestSupport::CTempDir root;
        ::chmod(root.Root().c_str(), 0777);
        const std::string path = root.Root() + "s.sock";
        const int firstFd = ::dup(0);
        c.make(path);
        const std::string error = RemoveError(path, c.asNobody);
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info) == 0, *c.error != '\0') << c.name;
        EXPECT_EQ(error.empty(), *c.error == '\0') << c.name << ": " << error;
        EXPECT_THAT(error, testing::HasSubstr(c.error)) << c.name;
        // Closes what the case opened: descriptors are allocated lowest first.
        for (int fd = firstFd; fd < firstFd + 4; ++fd) {
            ::close(fd);
        }
    }
}

} // namespace
