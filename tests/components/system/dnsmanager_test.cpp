#include "src/components/system/tarvdnsmanager.h"

#include "src/components/system/systemfilerender.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

using TestSupport::CLogCapture;

namespace {

class DnsManagerTest : public ::testing::Test {
protected:
    DnsManagerTest()
    {
        std::filesystem::create_directories(mTmp.Path() + "/run/resolvconf/interface");
        // The resolver script counts its runs.
        InstallScript("echo run >> " + mTmp.Path() + "/script-runs");
    }

    void InstallScript(const std::string& body)
    {
        mTmp.WriteFile("usr/bin/setresolv.sh", "#!/bin/sh\n" + body + "\n");
        ::chmod((mTmp.Path() + "/usr/bin/setresolv.sh").c_str(), 0755);
    }
    long ScriptRuns() const { return std::ranges::count(mTmp.ReadFile("script-runs"), '\n'); }
    std::string File() const { return mTmp.ReadFile("run/resolvconf/interface/eth0.tarv"); }

    TestSupport::CTempRoot mTmp;
    CTarvDnsManager mDns{"eth0", "/run/resolvconf/interface/", nullptr};
};

} // namespace

TEST_F(DnsManagerTest, MissingFileIsReportedOnceUntilTheNextSet)
{
    // With neither file, the lease's is the one reported missing.
    const std::string message = "Failed to open " + mTmp.Path() + "/run/resolvconf/interface/eth0.udhcpc for reading.";
    CLogCapture log(Log::error);
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_EQ(log.Count(message), 1u);
    // A set that fails to write still re-arms the report.
    std::filesystem::remove_all(mTmp.Path() + "/run/resolvconf");
    EXPECT_FALSE(mDns.SetDnsServers({"10.0.0.1"}));
    log.Clear();
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_EQ(log.Count(message), 1u);
    EXPECT_EQ(ScriptRuns(), 0);
}

// The status poll reads while another thread sets (refused values: the file stays missing).
TEST_F(DnsManagerTest, StatusPollReadsWhileAnotherThreadSets)
{
    CLogCapture log(Log::error);
    // Joined at the end of the test, before the manager goes.
    std::jthread setter([this] {
        for (int i = 0; i < 200; ++i) {
            mDns.SetDnsServers({"not an address"});
        }
    });
    for (int i = 0; i < 200; ++i) {
        EXPECT_FALSE(mDns.GetDnsServers().has_value());
    }
}

TEST(RenderResolverFileTest, OneLinePerServerWithoutEmptyOnes)
{
    EXPECT_EQ(RenderResolverFile({"192.168.1.1", "", "2001:db8::53"}), "nameserver 192.168.1.1\nnameserver 2001:db8::53\n");
}

// Set writes valid servers only and runs the script on each write; a failing
// script is logged and the write stands.
TEST_F(DnsManagerTest, SetWritesValidServersOnlyAndRunsTheScriptOnEach)
{
    CLogCapture log(Log::error);
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"2001:db8::53", "", "192.168.1.1"}, true},
        {{"", ""}, false},
        // One hostile value end to end; the validation table has the rest.
        {{"10.0.0.9", "10.0.0.2\nsearch evil.example"}, false},
    };
    for (const auto& [servers, ok] : cases) {
        SCOPED_TRACE(servers.front());
        EXPECT_EQ(mDns.SetDnsServers(servers), ok);
        EXPECT_EQ(File(), RenderResolverFile(cases.front().first)); // refusals keep the file
    }
    EXPECT_EQ(ScriptRuns(), 1); // for the one write
    EXPECT_TRUE(log.Contains(Log::error, "Can't set static DNS servers for eth0, "
                                         "'10.0.0.2\\x0asearch evil.example' is not an IP address."));
    InstallScript("echo resolvconf broken; exit 2");
    EXPECT_TRUE(mDns.SetDnsServers({"10.0.0.1"}));
    EXPECT_TRUE(log.Contains(Log::error, "Could not update /etc/resolv.conf, error resolvconf broken"));
}

// The daemon's own file holds while it exists, whatever the DHCP client writes
// to the lease's file; withdrawing it brings the lease's servers back.
TEST_F(DnsManagerTest, OwnServersStandInPlaceOfTheLeasesUntilWithdrawn)
{
    const auto servers = [this] {
        std::string text;
        auto queue = mDns.GetDnsServers();
        for (; queue && !queue->empty(); queue->pop()) {
            text += queue->front() + " ";
        }
        return text;
    };
    mTmp.WriteFile("run/resolvconf/interface/eth0.udhcpc", "search a.lan b.lan\nnameserver 10.0.0.1\n");
    EXPECT_EQ(servers(), "10.0.0.1 ");
    EXPECT_FALSE(mDns.ClearDnsServers()); // nothing of its own yet: the script does not run
    EXPECT_EQ(ScriptRuns(), 0);

    ASSERT_TRUE(mDns.SetDnsServers({"9.9.9.9"}));
    mTmp.WriteFile("run/resolvconf/interface/eth0.udhcpc", "nameserver 10.0.0.7\n"); // a renewal
    EXPECT_EQ(servers(), "9.9.9.9 ");
    EXPECT_EQ(ScriptRuns(), 1);

    EXPECT_TRUE(mDns.ClearDnsServers());
    EXPECT_FALSE(std::filesystem::exists(mTmp.Path() + "/run/resolvconf/interface/eth0.tarv"));
    EXPECT_EQ(servers(), "10.0.0.7 ");
    EXPECT_EQ(ScriptRuns(), 2);
}
