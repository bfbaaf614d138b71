#include "src/components/time/ntpmanager.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using HandlerMocks::CFakeConfig;
using TestSupport::CLogCapture;

namespace {

// The fakes are read on the manager's thread only between the test's Sync calls.
class CFakeNtpSystem : public INtpSystem {
public:
    bool ResolveHost(const std::string& host, bool quiet) override
    {
        return quietAsks += quiet, resolvable.count(host) != 0;
    }
    bool IsClockSynchronised() override { return synchronised; }
    std::set<std::string> resolvable;
    bool synchronised = false;
    int quietAsks = 0;
};

using V = CDiagnosticsCommClient::Value;

class NtpManagerTest : public ::testing::Test {
protected:
    NtpManagerTest()
    {
        CDiagnosticsCommClient::SetSink([this](const CDiagnosticsCommClient::SSample& sample) {
            mSignals[sample.identifier].push_back(sample.value);
            return true;
        });
        // The runner records command lines; the one-shot run answers mOneShotExit.
        ON_CALL(*mRunner, Run).WillByDefault([this](const std::string& line, unsigned) {
            mCommands.push_back(line);
            return SCommandResult {line.starts_with("/usr/sbin/ntpd -n -q") ? mOneShotExit : 0, ""};
        });
    }
    ~NtpManagerTest() override { CDiagnosticsCommClient::SetSink(nullptr); }

    void Pass(int periods)
    {
        for (int i = 0; i < periods; ++i) {
            mClock->Advance(CNtpManager::kRetryInterval);
            mNtp.Sync();
        }
    }
    std::size_t Count(const std::string& prefix) const
    {
        return std::count_if(mCommands.begin(), mCommands.end(), [&](const auto& c) { return c.starts_with(prefix); });
    }

    CLogCapture mLog;
    std::map<std::uint32_t, std::vector<V>> mSignals; // values sent, per signal
    std::shared_ptr<CFakeConfig> mConfig = std::make_shared<CFakeConfig>();
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockRunCommand>> mRunner =
        std::make_shared<testing::NiceMock<HandlerMocks::MockRunCommand>>();
    std::vector<std::string> mCommands;
    int mOneShotExit = 0;
    std::shared_ptr<CFakeNtpSystem> mSystem = std::make_shared<CFakeNtpSystem>();
    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    CNtpManager mNtp{mConfig, mRunner, mSystem, mClock};
};

} // namespace

// Only host names and address literals reach the shell; hostile values are
// logged (printable) and skipped.
TEST_F(NtpManagerTest, OnlyValidServerNamesReachTheCommandLines)
{
    // the two servers, Init's result, the one-shot run ("" when ntpd never runs)
    const std::tuple<std::string, std::string, bool, std::string> cases[] = {
        {"", "pool.example.org", true, "/usr/sbin/ntpd -n -q -p pool.example.org"},
        {"10.0.0.1", "ntp.example.org", true, "/usr/sbin/ntpd -n -q -p 10.0.0.1 -p ntp.example.org"},
        {"a\nb", "-p", false, ""},
        {"`id`", "fd00::1", true, "/usr/sbin/ntpd -n -q -p fd00::1"},
        {"", "", false, ""},
    };
    for (const auto& [first, second, initialised, oneShot] : cases) {
        SCOPED_TRACE(first + " | " + second);
        mCommands.clear();
        mConfig->strings = {{EConfigKey::NtpServer1, first}, {EConfigKey::NtpServer2, second}};
        mSystem->resolvable = {first, second};
        CNtpManager ntp(mConfig, mRunner, mSystem, mClock);
        EXPECT_EQ(ntp.Init(), initialised);
        if (initialised) {
            ntp.StartNtpd();
            ntp.Sync();
        }
        EXPECT_EQ(mCommands.size() > 1 ? mCommands[1] : "", oneShot);
    }
    EXPECT_TRUE(mLog.Contains(Log::error, "NtpServer1 contains invalid characters: 'a\\x0ab'"));
}

// DNS failing for a minute, then working: the warnings once, the DNS
// failure signal raised once and cleared once, ntpd started once although
// its one-shot run fails; then the sync check polls every 10 s until the
// clock is synchronised and reports it once.
TEST_F(NtpManagerTest, ResolveLoopReportsAFailurePeriodOnceThenSyncIsPolled)
{
    mConfig->strings[EConfigKey::NtpServer1] = "ntp.example.org";
    mOneShotExit = 1;
    ASSERT_TRUE(mNtp.Init());
    // A second start replaces the waiting loop instead of running two.
    mNtp.StartNtpd();
    mNtp.StartNtpd();
    mNtp.Sync();
    Pass(6);
    EXPECT_EQ(Count("/usr/sbin/ntpd"), 0U);
    mSystem->resolvable = {"ntp.example.org"};
    Pass(1);

    EXPECT_EQ(mLog.Count("NTP server(s) hostname(s) not resolvable, retrying every 10 seconds"), 1U);
    EXPECT_EQ(mLog.Count("Suppressing logging until resolvable"), 1U);
    EXPECT_EQ(mSystem->quietAsks, 8);
    EXPECT_EQ(mSignals[Signals::kNtpServerDnsQueryFailed.GetIdentifier()], (std::vector<V>{V(true), V(false)}));
    EXPECT_EQ(mCommands,
              (std::vector<std::string>{
                  "start-stop-daemon -K -n ntpd", "/usr/sbin/ntpd -n -q -p ntp.example.org",
                  "start-stop-daemon -S -b -n ntpd -a /usr/sbin/ntpd -- -d -N -S "
                  "/usr/bin/busybox-ntpd-update-status.sh -p ntp.example.org"}));
    // No retry is left planted once ntpd runs.
    Pass(3);
    EXPECT_EQ(Count("/usr/sbin/ntpd"), 1U);
    const auto notSynchronised = Signals::kSystemTimeNotSynchronized.GetIdentifier();
    EXPECT_EQ(mSignals[notSynchronised], (std::vector<V>{V(true)}));
    mSystem->synchronised = true;
    Pass(2);
    EXPECT_EQ(mSignals[notSynchronised], (std::vector<V>{V(true), V(false)}));
    EXPECT_EQ(mSignals[Signals::kConnectivityStatusChanged.GetIdentifier()],
              (std::vector<V>{V(std::string("NTP server synced successfully"))}));
}
