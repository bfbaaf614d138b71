#include "platform/ipc/grpc/socketfiles.h"
#include "platform/ipc/grpc/socketwatch.h"
#include "tests/ipc/ipctesthost.h"
#include "tests/support/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace {

using IpcTest::Socket;

TEST(SocketFiles, OnlyASocketNobodyListensOnIsReplaced)
{
    // Name, what makes the file, whether the user nobody removes it, the error
    // ("no error" when the file is removed).
    const std::tuple<const char*, void (*)(const std::string&), bool, std::string> cases[] = {
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
    for (const auto& [name, make, asNobody, expected] : cases) {
        TestSupport::CTempDir root;
        ::chmod(root.Root().c_str(), 0777);
        const std::string path = root.Root() + "s.sock";
        const int firstFd = ::dup(0);
        make(path);
        // The error RemoveStaleSocket raises, as the user nobody when asked
        // (root may connect to any socket).
        const auto remove = [&] {
            std::ofstream(root.Root() + "error") << IpcTest::ErrorOf([&] { IpcGrpc::RemoveStaleSocket(path); });
            return 0;
        };
        EXPECT_EQ(asNobody ? TestSupport::RunAsNobody(remove) : remove(), 0) << name;
        EXPECT_NE(std::filesystem::exists(std::filesystem::symlink_status(path)), expected == "no error") << name;
        EXPECT_THAT(root.ReadFile("error"), testing::HasSubstr(expected)) << name;
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
