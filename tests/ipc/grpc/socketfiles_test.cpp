#include "platform/ipc/grpc/socketfiles.h"
#include "platform/ipc/grpc/socketwatch.h"
#include "tests/ipc/ipctesthost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using IpcTest::Socket;

// The error RemoveStaleSocket raises, in a child process that runs as the
// user nobody when asked (root may connect to any socket).
std::string RemoveError(const std::string& path, bool asNobody)
{
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string error = IpcTest::ErrorOf([&] {
            if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                throw std::runtime_error("setuid failed");
            }
            IpcGrpc::RemoveStaleSocket(path);
        });
        (void)!::write(fds[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    // The child writes its text at once, and less than a pipe holds.
    char buffer[1024];
    const ssize_t length = ::read(fds[0], buffer, sizeof(buffer));
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    return std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
}

TEST(SocketFiles, OnlyASocketNobodyListensOnIsReplaced)
{
    const struct {
        const char* name;
        void (*make)(const std::string& path);
        bool asNobody;
        const char* error; // "no error" when the file is removed
    } cases[] = {
        {"stale", [](const std::string& p) { Socket(p, -1); }, false, "no error"},
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
        EXPECT_EQ(::lstat(path.c_str(), &info) != 0, std::string(c.error) == "no error") << c.name;
        EXPECT_THAT(error, testing::HasSubstr(c.error)) << c.name;
        // Closes what the case opened: descriptors are allocated lowest first.
        for (int fd = firstFd; fd < firstFd + 4; ++fd) {
            ::close(fd);
        }
    }
}

TEST(SocketWatch, ReportsWatchedSocketsThatAppearAlsoInADirectoryCreatedLater)
{
    TestSupport::CTempDir root;
    const std::string present = root.Root() + "a/peer.sock";
    const std::string later = root.Root() + "b/peer.sock";
    std::filesystem::create_directories(root.Root() + "a");
    IpcGrpc::CSocketWatch watch;
    watch.Watch(present);
    watch.Watch(later);

    std::ofstream(root.Root() + "a/other.sock") << "";
    std::ofstream(present) << "";
    EXPECT_THAT(watch.Appeared(), testing::ElementsAre(present));

    // Moved into place, as a host publishes its sockets.
    std::filesystem::create_directories(root.Root() + "b");
    watch.WatchPending();
    std::ofstream(root.Root() + "b/staged") << "";
    ASSERT_EQ(std::rename((root.Root() + "b/staged").c_str(), later.c_str()), 0);
    EXPECT_THAT(watch.Appeared(), testing::ElementsAre(later));
    EXPECT_THAT(watch.Appeared(), testing::IsEmpty());
}

} // namespace
