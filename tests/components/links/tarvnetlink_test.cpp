// Link queries against the kernel of the test's own network namespace; every
// namespace has "lo", so no privileges are needed here.
#include "src/components/links/tarvnetlink.h"

#include "src/components/links/netlinklinkhandle.h"
#include "src/components/system/tarvexception.h"
#include "tests/support/fdcount.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <netlink/route/link.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using TestSupport::OpenFdCount;

TEST(TarvNetlinkTest, LooksUpLinksByNameAndGivesEverythingBack)
{
    CTarvNetlink netlink;
    const int fdsBefore = OpenFdCount();
    TestSupport::CLogCapture log;
    nl_sock* socket = netlink.ConnectSocket();
    rtnl_link* link = netlink.GetLink(socket, "lo");
    ASSERT_STREQ(rtnl_link_get_name(link), "lo");
    // The loopback device reports no operational state of its own.
    EXPECT_EQ(netlink.GetLinkState(link), Tarv::kOperStateUnknown);
    netlink.DeleteExternalNetlinkPointers(socket, link);
    // A missing link throws and frees the socket; the modem's link is missing
    // whenever the modem is off, which is no error.
    EXPECT_THROW(netlink.GetLink(netlink.ConnectSocket(), "lte0"), CTarvException);
    EXPECT_TRUE(log.Texts(Log::error).empty());
    EXPECT_THROW(netlink.GetLink(netlink.ConnectSocket(), "tarvnolink0"), CTarvException);
    EXPECT_TRUE(log.Contains(Log::error, "tarvnolink0 Link not found"));
    EXPECT_EQ(OpenFdCount(), fdsBefore);
}

TEST(TarvNetlinkTest, ServesSeveralThreadsAtOnce)
{
    CTarvNetlink netlink;
    std::atomic<int> found{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&netlink, &found] {
            for (int i = 0; i < 200; ++i) {
                try {
                    found += CNetlinkLinkHandle(netlink, i % 2 == 0 ? "lo" : "lte0").State() == Tarv::kOperStateUnknown;
                } catch (const CTarvException&) {
                }
            }
        });
    }
    threads.clear(); // joins
    EXPECT_EQ(found.load(), 400);
}

} // namespace
