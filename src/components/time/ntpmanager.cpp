#include "src/components/time/ntpmanager.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "platform/toolbox/join.h"
#include "platform/toolbox/tarvvalidation.h"
#include "platform/toolbox/toolbox.h"
#include "src/components/time/ntpsystem.h"

#include <chrono>
#include <utility>

CNtpManager::CNtpManager(std::shared_ptr<ITarvConfig> config, std::shared_ptr<IRunCommand> runCommand,
                         std::shared_ptr<INtpSystem> system, std::shared_ptr<IClock> clock)
    : CWorker("ntp", std::move(clock)), mConfig(std::move(config)), mRunCommand(std::move(runCommand)),
      mSystem(system ? std::move(system) : std::make_shared<CNtpSystem>()),
      mConnectivitySignal(&Signals::kConnectivityStatusChanged),
      mNotSynchronisedSignal(&Signals::kSystemTimeNotSynchronized),
      mDnsFailureSignal(&Signals::kNtpServerDnsQueryFailed)
{
}

CNtpManager::~CNtpManager()
{
    // The loop's calls use the members: end them before the members go.
    Stop();
}

bool CNtpManager::Init()
{
    TLOG_FUNCTION();
    std::vector<std::string> servers;
    const std::pair<EConfigKey, const char*> keys[] = {{EConfigKey::NtpServer1, "NtpServer1"},
                                                       {EConfigKey::NtpServer2, "NtpServer2"}};
    for (const auto& [key, name] : keys) {
        const std::string value = mConfig->GetString(key);
        if (value.empty()) {
            TLOG_WARN("{} not configured", name);
        } else if (!CTarvValidation::IsServerName(value)) {
            // Only a host name or an address literal ever reaches a command line.
            TLOG_ERROR("{} contains invalid characters: '{}'", name, CTarvValidation::Printable(value));
        } else {
            TLOG_DEBUG("{}: {}", name, value);
            servers.push_back(value);
        }
    }
    {
        std::lock_guard lock(mServersMutex);
        mServers = servers;
    }
    if (servers.empty()) {
        TLOG_WARN("No (valid) NTP servers configured, skipping starting ntpd");
        return false;
    }
    TLOG_INFO("NTP server(s) '{}' configured, starting ntpd", Join(servers, ", "));
    Start();
    if (!mSystem->IsClockSynchronised()) {
        mNotSynchronisedSignal.Send(true);
    } else {
        TLOG_INFO("Tarv started with time already synchronized");
    }
    return true;
}

void CNtpManager::StartNtpd()
{
    TLOG_FUNCTION();
    NonBlockingCall([this] {
        if (mNextTry) {
            mNextTry->Cancel();
            mNextTry.reset();
        }
        AttemptNtpConnection();
    });
}

std::vector<std::string> CNtpManager::Servers() const
{
    std::lock_guard lock(mServersMutex);
    return mServers;
}

void CNtpManager::AttemptNtpConnection()
{
    TLOG_FUNCTION();
    mNextTry.reset();
    const std::vector<std::string> servers = Servers();
    bool resolvable = false;
    for (const auto& server : servers) {
        // Every server is asked, so each failure is logged (unless quiet).
        resolvable = mSystem->ResolveHost(server, mSuppressLogging) || resolvable;
    }
    if (resolvable) {
        TLOG_INFO("NTP server(s) hostname(s) resolvable, starting ntpd");
        mDnsFailureSignal.Send(false);
        RunNtpd(servers);
        mSuppressLogging = false;
        return;
    }
    if (!mSuppressLogging) {
        TLOG_WARN("NTP server(s) hostname(s) not resolvable, retrying every {} seconds", kRetryInterval.count());
        TLOG_WARN("Suppressing logging until resolvable");
        mSuppressLogging = true;
    }
    if (!mDnsFailureSignal.Receive()) {
        mDnsFailureSignal.Send(true);
    }
    mNextTry = AddCall([this] { AttemptNtpConnection(); }, Clock().Now() + kRetryInterval);
}

void CNtpManager::RunNtpd(const std::vector<std::string>& servers)
{
    TLOG_DEBUG("Killing old ntpd process");
    mRunCommand->RunWithDeadline("start-stop-daemon -K -n ntpd", 0, kDaemonControlDeadline);

    const std::string serverArguments = Join(servers, " ", "-p ");
    const SCommandResult once =
        mRunCommand->RunWithDeadline("/usr/sbin/ntpd -n -q " + serverArguments, 0, kOneShotDeadline);
    if (once.exitCode != 0) {
        TLOG_ERROR("Run ntpd -q failed with return code {}", once.exitCode);
        TLOG_WARN("Starting normal ntpd without a time set");
    } else {
        TLOG_INFO("Run ntpd -q succeeded, system time updated");
    }

    const std::string options = "-d -N -S /usr/bin/busybox-ntpd-update-status.sh " + serverArguments;
    TLOG_INFO("Starting 'ntpd {}'", options);
    mRunCommand->RunWithDeadline("start-stop-daemon -S -b -n ntpd -a /usr/sbin/ntpd -- " + options, 0,
                                 kDaemonControlDeadline);
    CheckSync();
}

void CNtpManager::CheckSync()
{
    mNextTry.reset();
    if (!mSystem->IsClockSynchronised()) {
        mNextTry = AddCall([this] { CheckSync(); }, Clock().Now() + kRetryInterval);
        return;
    }
    mNotSynchronisedSignal.Send(false);
    mConnectivitySignal.SetValue("NTP server synced successfully", std::chrono::system_clock::now());
    mConnectivitySignal.Send();
    TLOG_INFO("Time synchronization successful");
}
