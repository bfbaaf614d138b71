#include "src/components/system/tarvdnsmanager.h"

#include "platform/rootdir/rootdir.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using TestSupport::CLogCapture;
using TestSupport::CTempDir;

namespace {

class DnsManagerTest : public ::testing::Test {
protected:
    DnsManagerTest()
    {
        CRootDir::Set(mTmp.Root());
        std::filesystem::create_directories(mTmp.Path() + "/run/resolvconf/interface");
        // The resolver script counts its runs.
        InstallScript("echo run >> " + mTmp.Path() + "/script-runs");
    }
    ~DnsManagerTest() override { CRootDir::Set("/"); }

    void InstallScript(const std::string& body)
    {
        mTmp.WriteFile("usr/bin/setresolv.sh", "#!/bin/sh\n" + body + "\n");
        ::chmod((mTmp.Path() + "/usr/bin/setresolv.sh").c_str(), 0755);
    }
    long ScriptRuns() const
    {
        const std::string text = mTmp.ReadFile("script-runs");
        return std::count(text.begin(), text.end(), '\n');
    }
    std::vector<std::string> Servers()
    {
        auto queue = mDns.GetDnsServers();
        std::vector<std::string> list;
        while (queue && !queue->empty()) {
            list.push_back(queue->front());
            queue->pop();
        }
        return list;
    }
    std::string File() const { return mTmp.ReadFile("run/resolvconf/interface/eth0.udhcpc"); }
    void WriteResolverFile(const std::string& content) const
    {
        mTmp.WriteFile("run/resolvconf/interface/eth0.udhcpc", content);
    }

    CTempDir mTmp;
    CTarvDnsManager mDns{"eth0", "/run/resolvconf/interface/", nullptr};
};

} // namespace

TEST_F(DnsManagerTest, WritesOneLinePerServerAndRunsTheScriptOnce)
{
    ASSERT_TRUE(mDns.SetDnsServers({"10.0.0.1"}));
    EXPECT_EQ(File(), "nameserver 10.0.0.1\n");
    EXPECT_EQ(ScriptRuns(), 1);

    ASSERT_TRUE(mDns.SetDnsServers({"192.168.1.1", "8.8.8.8"}));
    EXPECT_EQ(File(), "nameserver 192.168.1.1\nnameserver 8.8.8.8\n");
    EXPECT_EQ(Servers(), (std::vector<std::string>{"192.168.1.1", "8.8.8.8"}));
    EXPECT_EQ(ScriptRuns(), 2);

    ASSERT_TRUE(mDns.SetDnsServers({"2001:db8::53"}));
    EXPECT_EQ(File(), "nameserver 2001:db8::53\n");
}

TEST_F(DnsManagerTest, EmptyEntriesAreDroppedAndAllEmptyMeansNone)
{
    ASSERT_TRUE(mDns.SetDnsServers({"10.0.0.1", ""}));
    EXPECT_EQ(File(), "nameserver 10.0.0.1\n");

    CLogCapture log;
    for (const std::vector<std::string>& servers : {std::vector<std::string>{}, std::vector<std::string>{"", ""}}) {
        EXPECT_FALSE(mDns.SetDnsServers(servers));
    }
    EXPECT_EQ(log.Count("Can't set static DNS servers for eth0, none were provided."), 2u);
    EXPECT_EQ(File(), "nameserver 10.0.0.1\n");
    EXPECT_EQ(ScriptRuns(), 1);
}

TEST_F(DnsManagerTest, ServerThatIsNotAnAddressIsRefusedAndNothingWritten)
{
    ASSERT_TRUE(mDns.SetDnsServers({"10.0.0.1"}));
    CLogCapture log;
    for (const char* bad : {"10.0.0.2\nsearch evil.example", "dns.example.com", "10.0.0.2 10.0.0.3"}) {
        EXPECT_FALSE(mDns.SetDnsServers({"10.0.0.9", bad}));
    }
    EXPECT_TRUE(log.Contains(Log::error, "Can't set static DNS servers for eth0, "
                                         "'10.0.0.2\\x0asearch evil.example' is not an IP address."));
    EXPECT_EQ(File(), "nameserver 10.0.0.1\n");
    EXPECT_EQ(ScriptRuns(), 1);
}

TEST_F(DnsManagerTest, ReadsNameserverPairsInFileOrder)
{
    WriteResolverFile("domain lan\nnameserver 10.0.0.1\nnameserver 10.0.0.2\n");
    EXPECT_EQ(Servers(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));

    // Words are paired regardless of lines: the odd line shifts the pairing.
    WriteResolverFile("search a b\nnameserver 10.0.0.1\n");
    CLogCapture log;
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_TRUE(log.Contains(Log::warning, "No DNS servers found in " + mTmp.Path() +
                                               "/run/resolvconf/interface/eth0.udhcpc."));
}

TEST_F(DnsManagerTest, MissingFileIsReportedOnceUntilTheNextSet)
{
    const std::string message =
        "Failed to open " + mTmp.Path() + "/run/resolvconf/interface/eth0.udhcpc for reading.";
    CLogCapture log;
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_EQ(log.Count(message), 1u);

    // A set that fails to write still re-arms the report.
    std::filesystem::remove_all(mTmp.Path() + "/run/resolvconf");
    EXPECT_FALSE(mDns.SetDnsServers({"10.0.0.1"}));
    EXPECT_TRUE(log.Contains(Log::error, "Failed to add DNS servers to " + mTmp.Path() +
                                             "/run/resolvconf/interface/eth0.udhcpc"));
    EXPECT_FALSE(mDns.GetDnsServers().has_value());
    EXPECT_EQ(log.Count(message), 2u);
    EXPECT_EQ(ScriptRuns(), 0);
}

TEST_F(DnsManagerTest, FailingScriptIsLoggedButTheWriteSucceeds)
{
    InstallScript("echo resolvconf broken; exit 2");
    CLogCapture log;
    EXPECT_TRUE(mDns.SetDnsServers({"10.0.0.1"}));
    EXPECT_TRUE(log.Contains(Log::info, "Updating /etc/resolv.conf via " + mTmp.Path() + "/usr/bin/setresolv.sh"));
    EXPECT_TRUE(log.Contains(Log::error, "Could not update /etc/resolv.conf, error resolvconf broken"));
}
