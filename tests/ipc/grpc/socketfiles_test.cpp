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
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testing::HasSubstr;

// Every descriptor a case opened, closed at the end of the case.
struct SFds {
    ~SFds()
    {
        for (const int fd : fds) {
            ::close(fd);
        }
    }
    int Socket(const std::string& path, int backlog)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        fds.push_back(fd);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        if (backlog < 0) {
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        } else if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
                   (backlog > 0 && ::listen(fd, backlog - 1) != 0)) {
            throw std::runtime_error("test socket set-up failed");
        }
        return fd;
    }
    std::vector<int> fds;
};

// The error RemoveStaleSocket raises ("" for none), run as the user nobody
// when asked: root may connect to any socket.
std::string RemoveError(const std::string& path, bool asNobody)
{
    const auto run = [&]() -> std::string {
        try {
            IpcGrpc::RemoveStaleSocket(path);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    };
    if (!asNobody) {
        return run();
    }
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string error = (::setgid(65534) == 0 && ::setuid(65534) == 0) ? run() : "setuid failed";
        (void)!::write(pipeFds[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string error;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0;) {
        error.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return error;
}

TEST(SocketFiles, OnlyASocketNobodyListensOnIsReplaced)
{
    struct SCase {
        const char* name;
        std::function<void(const std::string&, SFds&)> make;
        bool asNobody;
        const char* error; // "" when the file is removed
    };
    const std::vector<SCase> cases = {
        {"stale", [](const std::string& p, SFds& fds) { fds.Socket(p, 0); }, false, ""},
        {"served", [](const std::string& p, SFds& fds) { fds.Socket(p, 8); }, false, "already served"},
        // A connection attempt that would block must not hang nor count as stale.
        {"served, backlog full",
         [](const std::string& p, SFds& fds) {
             fds.Socket(p, 1);
             fds.Socket(p, -1);
             fds.Socket(p, -1);
         },
         false, "already served"},
        {"no permission to connect",
         [](const std::string& p, SFds& fds) {
             fds.Socket(p, 8);
             ::chmod(p.c_str(), 0600);
         },
         true, "cannot tell whether"},
        {"not a socket", [](const std::string& p, SFds&) { std::ofstream(p) << "x"; }, false, "is not a socket"},
    };
    for (const auto& c : cases) {
        TestSupport::CTempDir root;
        ::chmod(root.Root().c_str(), 0777);
        const std::string path = root.Root() + "s.sock";
        SFds fds;
        c.make(path, fds);
        const std::string error = RemoveError(path, c.asNobody);
        struct stat info {};
        const bool kept = ::lstat(path.c_str(), &info) == 0;
        if (*c.error == '\0') {
            EXPECT_EQ(error, "") << c.name;
            EXPECT_FALSE(kept) << c.name;
        } else {
            EXPECT_THAT(error, HasSubstr(c.error)) << c.name;
            EXPECT_TRUE(kept) << c.name;
        }
    }
}

} // namespace
