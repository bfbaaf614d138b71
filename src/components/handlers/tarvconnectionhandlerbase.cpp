#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/links/netlinklinkhandle.h"
#include "src/components/system/tarvexception.h"
#include "src/components/system/utility.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <signal.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

constexpr unsigned kDownRetries = 5;

std::string ReadProcFile(int pid, const char* entry)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/" + entry, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether the process is a DHCP client: a pid file left behind by a client
// that died may name any other process by now, and SIGUSR1 ends most of them.
// The client runs as its own program or as a multi-call binary applet.
bool IsUdhcpcProcess(int pid)
{
    std::string comm = ReadProcFile(pid, "comm");
    if (!comm.empty() && comm.back() == '\n') {
        comm.pop_back();
    }
    if (comm == "udhcpc") {
        return true;
    }
    const std::string cmdline = ReadProcFile(pid, "cmdline");
    const std::string program = BaseName(cmdline.substr(0, cmdline.find('\0')));
    if (program == "udhcpc") {
        return true;
    }
    if (program == "busybox" && cmdline.find('\0') != std::string::npos) {
        const std::string rest = cmdline.substr(cmdline.find('\0') + 1);
        return rest.substr(0, rest.find('\0')) == "udhcpc";
    }
    return false;
}

bool ReadHardwareFlag(const std::shared_ptr<ITarvConfig>& config, EConfigKey key)
{
    return config ? config->GetBool(key) : false;
}

} // namespace

CTarvConnectionHandlerBase::CTarvConnectionHandlerBase(ipc::EIfName interfaceId, std::shared_ptr<ITarvConfig> config,
                                                       std::shared_ptr<IRunCommand> runCommand,
                                                       std::shared_ptr<ITarvErrorHandler> errorHandler,
                                                       EConfigKey hardwareFlagKey, std::chrono::seconds stateTimeout,
                                                       std::shared_ptr<ITarvNetlink> netlink,
                                                       std::shared_ptr<IClock> clock)
    : mInterfaceId(interfaceId), mInterfaceName(IfNameToString(interfaceId)), mConfig(std::move(config)),
      mRunCommand(std::move(runCommand)), mErrorHandler(std::move(errorHandler)),
      mSupported(ReadHardwareFlag(mConfig, hardwareFlagKey)), mStateTimeout(stateTimeout),
      mNetlink(std::move(netlink)), mClock(clock ? std::move(clock) : IClock::Steady())
{
}

void CTarvConnectionHandlerBase::Enable(bool& ok)
{
    TLOG_INFO("Enabling {}", mInterfaceName);
    if (!mSupported) {
        TLOG_WARN("{} not supported", mInterfaceName);
        ok = false;
        return;
    }
    // ifup reports success before the link is up; a handler that needs the
    // up state waits for it itself.
    if (mRunCommand->Run("ifup " + mInterfaceName, 0).exitCode != 0 &&
        !mErrorHandler->RecoverFromIfUpDown(mInterfaceName, Tarv::kOperStateUp)) {
        TLOG_ERROR("Could not bring {} up", mInterfaceName);
        ok = false;
    }
}

void CTarvConnectionHandlerBase::Disable(bool& ok)
{
    TLOG_FUNCTION();
    TLOG_INFO("Disabling {}", mInterfaceName);
    if (!mSupported) {
        TLOG_WARN("{} not supported", mInterfaceName);
        ok = false;
        return;
    }
    const bool commandsDone =
        mRunCommand->Run("ip link set dev " + mInterfaceName + " down", kDownRetries).exitCode == 0 &&
        mRunCommand->Run("ifdown " + mInterfaceName, 0).exitCode == 0;
    if (!commandsDone && !mErrorHandler->RecoverFromIfUpDown(mInterfaceName, Tarv::kOperStateDown)) {
        TLOG_ERROR("Could not bring {} down", mInterfaceName);
        throw CTarvException();
    }
    WaitForState(mClock->Now(), Tarv::kOperStateDown, kDisableTimeout, ok);
}

void CTarvConnectionHandlerBase::WaitForState(IClock::time_point start, std::uint8_t desiredState,
                                              std::chrono::milliseconds timeout, bool& ok)
{
    const char* const action = desiredState == Tarv::kOperStateUp ? "enable" : "disable";
    for (;;) {
        const bool reached = mErrorHandler->IsIfInDesiredState(mInterfaceName, desiredState);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(mClock->Now() - start);
        mClock->SleepFor(kPollInterval);
        // A state seen only when the time is already up counts as a failure.
        if (elapsed >= timeout) {
            break;
        }
        if (reached) {
            TLOG_INFO("{} interface {}d", mInterfaceName, action);
            return;
        }
    }
    if (desiredState == Tarv::kOperStateDown) {
        TLOG_ERROR("Could not bring {} down", mInterfaceName);
        throw CTarvException();
    }
    // The WLAN station handler watches its association itself; a slow link is
    // no failure there.
    if (mInterfaceId != ipc::EWlan0) {
        TLOG_WARN("Could not {} {} interface", action, mInterfaceName);
        ok = false;
    }
}

ipc::MNetStatus CTarvConnectionHandlerBase::GetStatus()
{
    TLOG_FUNCTION();
    ipc::MNetStatus status;
    status.set_interface(mInterfaceId);

    const CNetlinkLinkHandle link(*mNetlink, mInterfaceName);
    const std::uint8_t state = link.State();
    if (state == Tarv::kOperStateUp) {
        status.set_connectionstate(ipc::MNetStatus::EConnected);
    } else if (state >= Tarv::kOperStateDown) {
        // Down, lower layer down, testing, dormant and anything unknown to us.
        status.set_connectionstate(ipc::MNetStatus::EDisconnected);
    }
    if (status.connectionstate() != ipc::MNetStatus::ENotSet && mLinkSignal) {
        mLinkSignal->SetValue(status.connectionstate() == ipc::MNetStatus::EConnected);
    }
    return status;
}

void CTarvConnectionHandlerBase::SendDiagSignals()
{
    TLOG_FUNCTION();
    if (mLinkSignal) {
        mLinkSignal->Send();
    }
}

void CTarvConnectionHandlerBase::SendExtendedDiagSignals()
{
    TLOG_FUNCTION();
}

void CTarvConnectionHandlerBase::GetIpProperties(ipc::MNetStatus& status)
{
    TLOG_FUNCTION();
    if (mInterfaceId != ipc::EEth0 && mInterfaceId != ipc::EWlan0) {
        TLOG_WARN("{} does not support properties", mInterfaceName);
        return;
    }
    ifaddrs* rawList = nullptr;
    if (getifaddrs(&rawList) != 0) {
        TLOG_ERROR("Could not get address information");
        return;
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> list(rawList, &freeifaddrs);

    const ifaddrs* entry = list.get();
    for (; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name != nullptr && mInterfaceName == entry->ifa_name && entry->ifa_addr != nullptr &&
            entry->ifa_netmask != nullptr && entry->ifa_addr->sa_family == AF_INET &&
            entry->ifa_netmask->sa_family == AF_INET) {
            break;
        }
    }
    if (entry == nullptr) {
        TLOG_DEBUG("Could not get ip properties for {}", mInterfaceName);
        return;
    }

    char address[INET_ADDRSTRLEN] = {};
    char netmask[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, address, sizeof address);
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr, netmask, sizeof netmask);
    // mutable_properties keeps a properties member already set (and its
    // gateway) and replaces any other member of the oneof.
    ipc::MNetStatus_MNetProperties* properties = status.mutable_properties();
    properties->set_ipaddress(address);
    properties->set_subnetmask(netmask);
}

void CTarvConnectionHandlerBase::UpdateUdhcpc(bool linkUp)
{
    TLOG_FUNCTION();
    // exchange makes the transition decision once even when two status
    // queries run at the same time.
    if (mLastUdhcpcLinkUp.exchange(linkUp) != linkUp) {
        const int pid = GetUdhcpcPid();
        if (pid > 0 && linkUp) {
            TriggerUdhcpcRenew(pid);
        }
    }
}

int CTarvConnectionHandlerBase::GetUdhcpcPid()
{
    const std::string path = CRootDir::Resolve("/var/run/udhcpc." + mInterfaceName + ".pid");
    std::ifstream file(path);
    if (!file.is_open() || file.peek() == std::ifstream::traits_type::eof()) {
        TLOG_ERROR("Could not open {}", path);
        return -1;
    }
    int pid = 0; // stays 0 when the content is not a number
    file >> pid;
    if (pid == -1) {
        TLOG_ERROR("Failed to read {}", path);
    }
    if (pid > 0 && !IsUdhcpcProcess(pid)) {
        TLOG_ERROR("{} names process {}, which is not udhcpc", path, pid);
        return -1;
    }
    return pid;
}

bool CTarvConnectionHandlerBase::TriggerUdhcpcRenew(int pid)
{
    // 0 would signal our own process group, -1 every process we may signal.
    if (pid <= 0) {
        return false;
    }
    // Checked again right before the signal: the client may have gone since
    // its pid was read.
    if (!IsUdhcpcProcess(pid)) {
        TLOG_ERROR("Process {} is not udhcpc, no renew for {}", pid, mInterfaceName);
        return false;
    }
    if (kill(pid, SIGUSR1) == 0) {
        TLOG_INFO("Triggered renew udhcpc for {}", mInterfaceName);
        return true;
    }
    const int error = errno;
    TLOG_ERROR("Failed to trigger renew udhcpc for {}: {}", mInterfaceName, error);
    return false;
}
