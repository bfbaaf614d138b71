// Link queries, recovery and the Ethernet handler against the real kernel: a
// veth link named like the station's (eth0, with "eth0-peer") in a
// private network namespace, and the real ip command. ifup and ifdown are
// replaced by small scripts that only set the link up or down, so that no
// interfaces file of the machine is read.
#include "src/components/handlers/tarvethhandler.h"
#include "src/components/links/netlinklinkhandle.h"
#include "src/components/links/tarverrorhandler.h"
#include "src/components/links/tarvnetlink.h"
#include "src/components/system/runcommand.h"
#include "src/components/system/tarvexception.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/fdcount.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

using namespace HandlerMocks;
using namespace std::chrono_literals;
using ::testing::NiceMock;

namespace {

// Why the namespaces could not be entered; empty once they are.
std::string gSkipReason = "namespaces not set up";
std::string gStubDirectory;

std::string EnterPrivateNamespaces()
{
    if (geteuid() != 0) {
        return "needs root for a private network namespace";
    }
    // Mounts made here stay here; sysfs shows this namespace's links.
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0) {
        return std::string("private network and mount namespace failed: ") + std::strerror(errno);
    }
    // ifup/ifdown stand-ins first in PATH.
    char pattern[] = "/tmp/tarv-kernel-XXXXXX";
    if (std::system("ip link set lo up") != 0 || mkdtemp(pattern) == nullptr) {
        return "the ip command or a temporary directory failed";
    }
    gStubDirectory = pattern;
    for (const auto& [name, action] : {std::pair{"ifup", "up"}, std::pair{"ifdown", "down"}}) {
        const std::string path = gStubDirectory + "/" + name;
        std::ofstream(path) << "#!/bin/sh\nexec ip link set dev \"$1\" " << action << "\n";
        chmod(path.c_str(), 0755);
    }
    const char* path = std::getenv("PATH");
    setenv("PATH", (gStubDirectory + ":" + (path ? path : "/usr/sbin:/usr/bin:/sbin:/bin")).c_str(), 1);
    return {};
}

void Shell(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

using TestSupport::OpenFdCount;
using TestSupport::PollUntil;

class KernelLinksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gSkipReason.empty()) {
            GTEST_SKIP() << gSkipReason;
        }
        config->bools[HwHasEthernet] = true;
        Shell("ip link add eth0 type veth peer name eth0-peer");
    }
    void TearDown() override { (void)!std::system("ip link del eth0 2>/dev/null"); }

    std::shared_ptr<CFakeConfig> config = std::make_shared<CFakeConfig>();
    std::shared_ptr<CRunCommand> runner = std::make_shared<CRunCommand>();
    std::shared_ptr<CTarvNetlink> netlink = std::make_shared<CTarvNetlink>();
    std::shared_ptr<CTarvErrorHandler> errorHandler = std::make_shared<CTarvErrorHandler>(runner, netlink);
};

TEST_F(KernelLinksTest, EthernetStatusLeaksNothingAndTheLinkGoesDownAndIsRecovered)
{
    Shell("ip link set eth0-peer up && ip link set eth0 up && ip -6 addr add fd00::2/64 dev eth0 nodad");
    ASSERT_TRUE(PollUntil([&] { return errorHandler->IsIfInDesiredState("eth0", Tarv::kOperStateUp); }, 3s));
    auto handler = std::make_unique<CTarvEthHandler>(SHandlerParts{
        .config = config, .runCommand = runner, .netlink = netlink, .errorHandler = errorHandler,
        .interfacesFileEditor = std::make_shared<NiceMock<MockInterfacesFileEditor>>(),
        .hostnameManager = std::make_shared<NiceMock<MockHostnameManager>>(),
        .ethDnsManager = std::make_shared<NiceMock<MockDnsManager>>()});
    const ipc::MNetStatus v6 = handler->GetStatus(); // an IPv6 address only: none to show
    EXPECT_EQ(v6.connectionstate(), ipc::MNetStatus::EConnected);
    EXPECT_EQ(v6.properties().ipaddress() + v6.properties().subnetmask(), "");
    Shell("ip addr add 192.168.7.2/24 dev eth0 && ip route add default via 192.168.7.1 dev eth0");
    const auto properties = handler->GetStatus().properties();
    EXPECT_EQ(properties.ipaddress() + "/" + properties.subnetmask() + " via " + properties.defaultgateway(),
              "192.168.7.2/255.255.255.0 via 192.168.7.1");

    // Status queries, and lookups of the modem's absent link, again and again.
    const auto query = [&](int times) {
        for (int i = 0; i < times; ++i) {
            ASSERT_EQ(handler->GetStatus().properties().ipaddress(), "192.168.7.2");
            if (i % 10 == 0) {
                EXPECT_THROW(CNetlinkLinkHandle(*netlink, "lte0"), CTarvException);
            }
        }
    };
    query(100); // first-use allocations of libnl, the logger and the message classes
    const int fdsBefore = OpenFdCount();
    const std::size_t heapBefore = mallinfo2().uordblks;
    query(10000);
    const std::size_t heapAfter = mallinfo2().uordblks;
    EXPECT_EQ(OpenFdCount(), fdsBefore);
    // A leak of one small libnl object per query would be several hundred kB.
    EXPECT_LT(heapAfter, heapBefore + 16 * 1024) << "heap grew from " << heapBefore << " to " << heapAfter;

    // Disable takes the link down within its wait; recovery brings it back, its addresses flushed.
    EXPECT_TRUE(OkAfter(*handler, &CTarvEthHandler::Disable));
    EXPECT_EQ(handler->GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
    EXPECT_TRUE(errorHandler->RecoverFromIfUpDown("eth0", Tarv::kOperStateUp));
    EXPECT_EQ(runner->Run("ip -4 addr show dev eth0", 0).output.find("192.168.7.2"), std::string::npos);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Before any thread exists: a process with threads cannot get a mount namespace of its own.
    gSkipReason = EnterPrivateNamespaces();
    const int result = RUN_ALL_TESTS();
    if (!gStubDirectory.empty()) {
        std::system(("rm -rf " + gStubDirectory).c_str());
    }
    return result;
}
