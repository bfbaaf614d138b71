#include "platform/ipc/grpc/socketwatch.h"
#include "tests/support/tempdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

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
    EXPECT_THAT(watch.Appeared(), ElementsAre(present));

    // Moved into place, as a host publishes its sockets.
    std::filesystem::create_directories(root.Root() + "b");
    watch.WatchPending();
    std::ofstream(root.Root() + "b/staged") << "";
    ASSERT_EQ(std::rename((root.Root() + "b/staged").c_str(), later.c_str()), 0);
    EXPECT_THAT(watch.Appeared(), ElementsAre(later));
    EXPECT_THAT(watch.Appeared(), IsEmpty());
}

} // namespace
