#include "src/components/system/hostnamemanager.h"

#include "src/components/system/systemfilerender.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <tuple>


namespace {

// Keeps the "kernel" host name in memory, with gethostname's semantics.
class CTestHostnameManager : public CHostnameManager {
public:
    std::string KernelName()
    {
        std::lock_guard lock(mMutex);
        return mKernelName;
    }
    void SetKernelName(const std::string& name) { SysSetHostname(name.c_str(), name.size()); }

    bool failGet = false, failSet = false;

protected:
    int SysGetHostname(char* buffer, std::size_t size) override
    {
        std::lock_guard lock(mMutex);
        if (failGet || mKernelName.size() >= size) {
            return -1;
        }
        std::memcpy(buffer, mKernelName.c_str(), mKernelName.size() + 1);
        return 0;
    }
    int SysSetHostname(const char* name, std::size_t length) override
    {
        std::lock_guard lock(mMutex);
        if (!failSet) {
            mKernelName.assign(name, length);
        }
        return failSet ? -1 : 0;
    }

private:
    std::mutex mMutex; // guards mKernelName
    std::string mKernelName = "old-name";
};

class HostnameManagerTest : public ::testing::Test {
protected:
    HostnameManagerTest() { mTmp.WriteFile("etc/hostname", "old-name\n"); }
    // The host name in its three places: hosts, hostname and the kernel.
    std::string Places() { return Hosts() + mTmp.ReadFile("etc/hostname") + mManager.KernelName(); }
    std::string Hosts() const { return mTmp.ReadFile("etc/hosts"); }

    TestSupport::CTempRoot mTmp;
    CTestHostnameManager mManager;
};

} // namespace

TEST(RenderHostsTest, RenamesWholeNamesOnly)
{
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"old-name", "127.0.0.1 localhost\n127.0.1.1 old-name old-name.lan\n",
         "127.0.0.1 localhost\n127.0.1.1 charger-1 charger-1.lan\n"},
        // Names that merely contain the current one, addresses and comments stay.
        {"host", "127.0.0.1 localhost host\n::1 localhost ip6-localhost\n# host here\n",
         "127.0.0.1 localhost charger-1\n::1 localhost ip6-localhost\n# host here\n"},
        {"host", "10.0.0.2\tmyhost host-2 hostx.lan host\t# host\n127.0.1.1 host",
         "10.0.0.2\tmyhost host-2 hostx.lan charger-1\t# host\n127.0.1.1 charger-1"},
        {"10.0.0.2", "10.0.0.2 10.0.0.2\n", "10.0.0.2 charger-1\n"},
        {"", "127.0.0.1 .lan\n", "127.0.0.1 .lan\n"},
    };
    for (const auto& [from, before, after] : cases) {
        EXPECT_EQ(RenderHosts(before, from, "charger-1"), after) << before;
    }
}

// No usable current name (none, or the loopback's): hosts is kept, the other steps run.
TEST_F(HostnameManagerTest, WithoutAUsableCurrentNameHostsIsKept)
{
    for (const std::string current : {"", "localhost"}) {
        mManager.SetKernelName(current);
        mTmp.WriteFile("etc/hosts", "127.0.0.1 localhost\n");
        ASSERT_TRUE(mManager.SetHostname("charger-1"));
        EXPECT_EQ(Places(), "127.0.0.1 localhost\ncharger-1\ncharger-1");
    }
}

// Unsafe names are refused before anything changes: one hostile value end to
// end (the validation table has the rest) and the kernel's length limit.
TEST_F(HostnameManagerTest, RefusesUnsafeNamesButTakesUnusualHarmlessOnes)
{
    mTmp.WriteFile("etc/hosts", "127.0.1.1 old-name\n");
    TestSupport::CLogCapture log;
    EXPECT_FALSE(mManager.SetHostname("charger\n127.0.0.1 bank.example"));
    EXPECT_FALSE(mManager.SetHostname(std::string(65, 'a')));
    EXPECT_TRUE(log.Contains(Log::error, "Refusing to set invalid hostname 'charger\\x0a127.0.0.1 bank.example'"));
    EXPECT_EQ(Places(), "127.0.1.1 old-name\nold-name\nold-name");
    EXPECT_TRUE(mManager.SetHostname("EV_Charger_1"));
    EXPECT_EQ(Hosts(), "127.0.1.1 EV_Charger_1\n");
}

TEST_F(HostnameManagerTest, FailuresStopAtTheirStep)
{
    // Oversized hosts file: nothing changes.
    mTmp.WriteFile("etc/hosts", "127.0.1.1 old-name\n" + std::string(70000, '#'));
    EXPECT_FALSE(mManager.SetHostname("charger-4"));
    EXPECT_EQ(mTmp.ReadFile("etc/hostname") + mManager.KernelName(), "old-name\nold-name");

    // Host name file cannot be written: hosts is done, the kernel is not.
    mTmp.WriteFile("etc/hosts", "127.0.1.1 old-name\n");
    std::filesystem::remove(mTmp.Path() + "/etc/hostname");
    std::filesystem::create_directory(mTmp.Path() + "/etc/hostname");
    EXPECT_FALSE(mManager.SetHostname("charger-4"));
    EXPECT_EQ(Hosts() + mManager.KernelName(), "127.0.1.1 charger-4\nold-name");
    std::filesystem::remove(mTmp.Path() + "/etc/hostname");

    // The kernel's name cannot be read: hosts is left alone.
    mManager.failGet = true;
    EXPECT_EQ(mManager.GetHostname(), std::nullopt);
    ASSERT_TRUE(mManager.SetHostname("charger-6"));
    EXPECT_EQ(Hosts(), "127.0.1.1 charger-4\n");
    mManager.failGet = false;

    // The kernel refuses.
    mManager.failSet = true;
    EXPECT_FALSE(mManager.SetHostname("charger-5"));
    EXPECT_EQ(mTmp.ReadFile("etc/hostname"), "charger-5\n");
}

TEST_F(HostnameManagerTest, ConcurrentRenamesNeverInterleave)
{
    mTmp.WriteFile("etc/hosts", "127.0.1.1 old-name\n");
    auto rename = [this](const std::string& name) {
        for (int i = 0; i < 50; ++i) {
            EXPECT_TRUE(mManager.SetHostname(name));
        }
    };
    std::thread a(rename, "charger-a");
    std::thread b(rename, "charger-b");
    a.join();
    b.join();
    // Whichever call ran last, the three places agree.
    const std::string name = mManager.KernelName();
    EXPECT_EQ(Places(), "127.0.1.1 " + name + "\n" + name + "\n" + name);
}
