#include "src/components/handlers/tarvaphandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/tarvexception.h"
#include "src/components/system/tarvfileutilities.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

constexpr std::chrono::seconds kApStateTimeout{3};
constexpr unsigned kServiceRetries = 5;

} // namespace

CTarvApHandler::CTarvApHandler(const SHandlerParts& parts, std::string dnsmasqPath, std::string hostapdPath)
    : CTarvConnectionHandlerBase(parts, {ipc::EUap0, HwHasWlan, kApStateTimeout, &Signals::kApLinkState}),
      mHostnameManager(parts.hostnameManager), mDnsmasqPath(std::move(dnsmasqPath)),
      mHostapdPath(std::move(hostapdPath))
{
}

CTarvApHandler::~CTarvApHandler() = default;

void CTarvApHandler::Initialize()
{
    TLOG_FUNCTION();
    if (!mSupported) {
        TLOG_WARN("AP not supported");
        return;
    }
    const std::optional<std::string> hostname = mHostnameManager->GetHostname();
    if (!hostname) {
        TLOG_ERROR("Could not get hostname");
        throw CTarvException();
    }
    SetApConfigFiles(*hostname);
    ConfigureAp();
}

void CTarvApHandler::SetApConfigFiles(const std::string& hostname)
{
    TLOG_FUNCTION();
    const std::string passphrase = mConfig->GetString(WlanApPassword);
    // The passphrase lands on a line of hostapd.conf: a line break or other
    // control character would add configuration lines of its own.
    if (!CTarvValidation::IsWlanPassphrase(passphrase)) {
        if (passphrase.size() < CTarvValidation::kMinWlanPassphraseLength ||
            passphrase.size() > CTarvValidation::kMaxWlanPassphraseLength) {
            TLOG_ERROR("Wrong AP password length: Current length is: {} and it should be between 8 and 63 char.",
                       passphrase.size());
        } else {
            TLOG_ERROR("Wrong AP password characters: it must be {}", CTarvValidation::kWlanPassphraseRule);
        }
        throw CTarvException();
    }
    if (!CTarvValidation::IsHostname(hostname)) {
        TLOG_ERROR("Host name '{}' cannot name the access point", CTarvValidation::Printable(hostname));
        throw CTarvException();
    }
    const std::string hostapd = CRootDir::Resolve(mHostapdPath);
    if (!ReplaceInFile(hostapd, kPassphrasePlaceholder, passphrase, CAtomicFile::kSecretFileMode)) {
        TLOG_ERROR("Could not set AP password");
        throw CTarvException();
    }
    if (!ReplaceInFile(hostapd, kNamePlaceholder, hostname, CAtomicFile::kSecretFileMode)) {
        TLOG_ERROR("Could not set AP SSID");
        throw CTarvException();
    }
    if (!ReplaceInFile(CRootDir::Resolve(mDnsmasqPath), kNamePlaceholder, hostname)) {
        TLOG_ERROR("Could not set the hostname in dnsmasq.conf");
        throw CTarvException();
    }
}

void CTarvApHandler::ConfigureAp()
{
    TLOG_FUNCTION();
    if (mErrorHandler->DoesIfExist(mInterfaceName)) {
        return;
    }
    if (mRunCommand->Run("/usr/sbin/iw dev " + Tarv::kWlan0 + " interface add " + mInterfaceName + " type __ap",
                         kServiceRetries)
            .exitCode != 0) {
        TLOG_ERROR("Could not create {}", mInterfaceName);
        throw CTarvException();
    }
    if (!mErrorHandler->DoesIfExist(mInterfaceName)) {
        TLOG_ERROR(" {} still doesn't exist after it was created", mInterfaceName);
        throw CTarvException();
    }
    TLOG_INFO("{} interface has been created", mInterfaceName);
}

bool CTarvApHandler::IsServiceRunning(const SProcessIdentity& service)
{
    return mProcesses->Find(service) != -1;
}

void CTarvApHandler::Enable(bool& ok)
{
    TLOG_FUNCTION();
    TLOG_INFO("Enabling {}", mInterfaceName);
    if (!RunOrRecover({{"ifup " + mInterfaceName, 0}}, Tarv::kOperStateUp)) {
        TLOG_ERROR("Could not bring {} up", mInterfaceName);
        ok = false;
        return;
    }
    for (const auto& [service, script, name] : {std::tuple{&kHostapd, "/etc/init.d/hostapd2 start", "Hostapd"},
                                                std::tuple{&kDnsmasq, "/etc/init.d/dnsmasq start", "Dnsmasq"}}) {
        if (IsServiceRunning(*service)) {
            continue;
        }
        if (mRunCommand->Run(script, kServiceRetries).exitCode != 0) {
            TLOG_ERROR("Could not start {}", name);
            ok = false;
            return;
        }
        mProcesses->NoteStarted(*service);
    }
    WaitForState(mClock->Now(), Tarv::kOperStateUp, mStateTimeout, ok);
}

void CTarvApHandler::Disable(bool& ok)
{
    TLOG_FUNCTION();
    TLOG_INFO("Disabling {}", mInterfaceName);
    if (!RunOrRecover({{"ifdown " + mInterfaceName, 0}}, Tarv::kOperStateDown)) {
        TLOG_ERROR("Could not bring {} down", mInterfaceName);
        throw CTarvException();
    }
    // The reverse of the start order.
    if (IsServiceRunning(kDnsmasq) && mRunCommand->Run("/etc/init.d/dnsmasq stop", kServiceRetries).exitCode != 0) {
        TLOG_ERROR("Could not stop Dnsmasq");
        throw CTarvException();
    }
    if (IsServiceRunning(kHostapd) && mRunCommand->Run("/etc/init.d/hostapd2 stop", kServiceRetries).exitCode != 0) {
        TLOG_ERROR("Could not stop Hostapd");
        throw CTarvException();
    }
    // Throws when the link does not go down; the caller's flag is not asked
    // here, so that a failure reported earlier by another handler does not
    // read as one of this disable.
    bool down = true;
    WaitForState(mClock->Now(), Tarv::kOperStateDown, mStateTimeout, down);
    if (!WaitForApServicesStopped()) {
        ok = false;
    }
}

bool CTarvApHandler::WaitForApServicesStopped()
{
    const IClock::time_point start = mClock->Now();
    bool hostapdStopped = false;
    bool dnsmasqStopped = false;
    for (;;) {
        if (mClock->Now() - start >= kServiceStopTimeout) {
            TLOG_WARN("hostapd and/or dnsmasq still running after timeout - force stopping");
            break;
        }
        hostapdStopped = !IsServiceRunning(kHostapd);
        dnsmasqStopped = !IsServiceRunning(kDnsmasq);
        TLOG_DEBUG("hostapd stopped: {}, dnsmasq stopped: {}", hostapdStopped, dnsmasqStopped);
        if (hostapdStopped && dnsmasqStopped) {
            TLOG_DEBUG("hostapd and dnsmasq stopped in time");
            return true;
        }
        mClock->SleepFor(kPollInterval);
    }
    // Only our own processes, found through their pid files, are ended.
    bool result = true;
    if (!hostapdStopped && !mProcesses->Stop(kHostapd, kServiceStopTimeout)) {
        TLOG_ERROR("Hostapd is still running after disabling {}", mInterfaceName);
        result = false;
    }
    if (!dnsmasqStopped && !mProcesses->Stop(kDnsmasq, kServiceStopTimeout)) {
        TLOG_ERROR("Dnsmasq is still running after disabling {}", mInterfaceName);
        result = false;
    }
    return result;
}
