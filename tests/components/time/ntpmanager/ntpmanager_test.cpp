#include "src/components/time/ntpmanager.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/worker/manualclock.h"
#include "tests/components/mocks/handlermocks.h"
#include "tests/support/logcapture.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>

using HandlerMocks::CFakeConfig;
using TestSupport::CLogCapture;

namespace {

// Records command lines; "/usr/sbin/ntpd -n -q" answers oneShotExit.
class CRecordingRunner : public IRunCommand {
public:
    SCommandResult Run(const std::string& commandLine, unsigned) override
    {
        std::lock_guard lock(mutex);
        commands.push_back(commandLine);
        return {commandLine.rfind("/usr/sbin/ntpd -n -q", 0) == 0 ? oneShotExit : 0, ""};
    }
    std::vector<std::string> Commands() const
    {
        std::lock_guard lock(mutex);
        return commands;
    }
    mutable std::mutex mutex;
    std::vector<std::string> commands; // guarded by mutex
    int oneShotExit = 0;
};

class CFakeNtpSystem : public INtpSystem {
public:
    bool ResolveHost(const std::string& host, bool quiet) override
    {
        std::lock_guard lock(mutex);
        quietAsks += quiet ? 1 : 0;
        return resolvable.count(host) != 0;
    }
    bool IsClockSynchronised() override
    {
        std::lock_guard lock(mutex);
        return synchronised;
    }
    std::mutex mutex;
    std::set<std::string> resolvable; // guarded by mutex
    bool synchronised = false;        // guarded by mutex
    int quietAsks = 0;                // guarded by mutex
};

class NtpManagerTest : public ::testing::Test {
protected:
    NtpManagerTest()
    {
        CDiagnosticsCommClient::SetSink([this](const CDiagnosticsCommClient::SSample& sample) {
            std::lock_guard lock(mSignalMutex);
            mSignals.push_back(sample);
            return true;
        });
    }
    ~NtpManagerTest() override { CDiagnosticsCommClient::SetSink(nullptr); }

    void Configure(const std::string& first, const std::string& second)
    {
        mConfig->strings[EConfigKey::NtpServer1] = first;
        mConfig->strings[EConfigKey::NtpServer2] = second;
    }
    void SetResolvable(std::set<std::string> names)
    {
        std::lock_guard lock(mSystem->mutex);
        mSystem->resolvable = std::move(names);
    }
    void SetSynchronised()
    {
        std::lock_guard lock(mSystem->mutex);
        mSystem->synchronised = true;
    }
    void Pass(std::chrono::seconds time)
    {
        mClock->Advance(time);
        mNtp.Sync();
    }
    // Values sent for one signal, in order.
    std::vector<CDiagnosticsCommClient::Value> Sent(std::uint32_t identifier)
    {
        std::lock_guard lock(mSignalMutex);
        std::vector<CDiagnosticsCommClient::Value> values;
        for (const auto& sample : mSignals) {
            if (sample.identifier == identifier) {
                values.push_back(sample.value);
            }
        }
        return values;
    }
    std::size_t Count(const std::string& prefix) const
    {
        std::size_t n = 0;
        for (const auto& command : mRunner->Commands()) {
            n += command.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return n;
    }

    CLogCapture mLog;
    std::mutex mSignalMutex;
    std::vector<CDiagnosticsCommClient::SSample> mSignals; // guarded by mSignalMutex
    std::shared_ptr<CFakeConfig> mConfig = std::make_shared<CFakeConfig>();
    std::shared_ptr<CRecordingRunner> mRunner = std::make_shared<CRecordingRunner>();
    std::shared_ptr<CFakeNtpSystem> mSystem = std::make_shared<CFakeNtpSystem>();
    std::shared_ptr<CManualClock> mClock = std::make_shared<CManualClock>();
    CNtpManager mNtp{mConfig, mRunner, mSystem, mClock};
};

} // namespace

// Only host names and address literals reach the shell; hostile values are
// logged (printable) and skipped.
TEST_F(NtpManagerTest, OnlyValidServerNamesReachTheCommandLines)
{
    struct SCase {
        std::string first, second;
        bool initialised;
        std::string oneShot; // "" when ntpd never runs
    };
    const SCase cases[] = {
        {"", "pool.example.org", true, "/usr/sbin/ntpd -n -q -p pool.example.org"},
        {"10.0.0.1", "ntp.example.org", true, "/usr/sbin/ntpd -n -q -p 10.0.0.1 -p ntp.example.org"},
        {"pool.example.org; reboot", "$(id)", false, ""},
        {"a\nb", "-p", false, ""},
        {"`id`", "fd00::1", true, "/usr/sbin/ntpd -n -q -p fd00::1"},
        {"", "", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first + " | " + c.second);
        auto recorder = std::make_shared<CRecordingRunner>();
        Configure(c.first, c.second);
        SetResolvable({c.first, c.second});
        CNtpManager ntp(mConfig, recorder, mSystem, mClock);
        EXPECT_EQ(ntp.Init(), c.initialised);
        if (c.initialised) {
            ntp.StartNtpd();
            ntp.Sync();
        }
        std::string oneShot;
        for (const auto& command : recorder->Commands()) {
            if (command.rfind("/usr/sbin/ntpd", 0) == 0) {
                oneShot = command;
            }
        }
        EXPECT_EQ(oneShot, c.oneShot);
    }
    EXPECT_TRUE(mLog.Contains(Log::error, "NtpServer1 contains invalid characters: 'a\\x0ab'"));
    EXPECT_TRUE(mLog.Contains(Log::warning, "No (valid) NTP servers configured, skipping starting ntpd"));
}

// DNS failing for a minute, then working: the warnings once, the DNS
// failure signal raised once and cleared once, ntpd started once.
TEST_F(NtpManagerTest, ResolveLoopReportsAFailurePeriodOnce)
{
    Configure("ntp.example.org", "");
    ASSERT_TRUE(mNtp.Init());
    // A second start replaces the waiting loop instead of running two.
    mNtp.StartNtpd();
    mNtp.StartNtpd();
    mNtp.Sync();
    for (int i = 0; i < 6; ++i) {
        Pass(CNtpManager::kRetryInterval);
    }
    EXPECT_EQ(Count("/usr/sbin/ntpd"), 0U);
    SetResolvable({"ntp.example.org"});
    Pass(CNtpManager::kRetryInterval);

    EXPECT_EQ(mLog.Count("NTP server(s) hostname(s) not resolvable, retrying every 10 seconds"), 1U);
    EXPECT_EQ(mLog.Count("Suppressing logging until resolvable"), 1U);
    EXPECT_EQ(mSystem->quietAsks, 8);
    using V = CDiagnosticsCommClient::Value;
    EXPECT_EQ(Sent(Signals::kNtpServerDnsQueryFailed.GetIdentifier()), (std::vector<V>{V(true), V(false)}));
    EXPECT_EQ(mRunner->Commands(),
              (std::vector<std::string>{
                  "start-stop-daemon -K -n ntpd", "/usr/sbin/ntpd -n -q -p ntp.example.org",
                  "start-stop-daemon -S -b -n ntpd -a /usr/sbin/ntpd -- -d -N -S "
                  "/usr/bin/busybox-ntpd-update-status.sh -p ntp.example.org"}));
    // No retry is left planted once ntpd runs.
    Pass(CNtpManager::kRetryInterval);
    EXPECT_EQ(Count("/usr/sbin/ntpd"), 1U);
}

// A failing one-shot run still starts the daemon; the sync check polls
// every 10 s until the clock is synchronised, then reports it once.
TEST_F(NtpManagerTest, FailedOneShotRunStillStartsTheDaemonAndKeepsChecking)
{
    Configure("ntp.example.org", "");
    SetResolvable({"ntp.example.org"});
    mRunner->oneShotExit = 1;
    ASSERT_TRUE(mNtp.Init());
    mNtp.StartNtpd();
    mNtp.StartNtpd();
    mNtp.Sync();
    EXPECT_EQ(Count("start-stop-daemon -S"), 2U);
    EXPECT_TRUE(mLog.Contains(Log::error, "Run ntpd -q failed with return code 1"));
    for (int i = 0; i < 3; ++i) {
        Pass(CNtpManager::kRetryInterval);
    }
    EXPECT_FALSE(mLog.Contains("Time synchronization successful"));
    SetSynchronised();
    Pass(CNtpManager::kRetryInterval);
    Pass(CNtpManager::kRetryInterval);
    EXPECT_EQ(mLog.Count("Time synchronization successful"), 1U);
    using V = CDiagnosticsCommClient::Value;
    EXPECT_EQ(Sent(Signals::kSystemTimeNotSynchronized.GetIdentifier()), (std::vector<V>{V(true), V(false)}));
    EXPECT_EQ(Sent(Signals::kConnectivityStatusChanged.GetIdentifier()),
              (std::vector<V>{V(std::string("NTP server synced successfully"))}));
}
