#include "src/components/handlers/tarvconnectionhandlerbase.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/handlers/hostsystem.h"
#include "src/components/links/netlinklinkhandle.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/processowner.h"
#include "src/components/system/tarvexception.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr unsigned kDownRetries = 5;

const std::shared_ptr<ITarvConfig>& Required(const std::shared_ptr<ITarvConfig>& config)
{
    if (!config) {
        throw std::invalid_argument("connection handler: no configuration");
    }
    return config;
}

const CSignalDefinition<bool>* Required(const CSignalDefinition<bool>* definition)
{
    if (definition == nullptr) {
        throw std::invalid_argument("connection handler: no link signal definition");
    }
    return definition;
}

} // namespace

CTarvConnectionHandlerBase::CTarvConnectionHandlerBase(const SHandlerParts& parts, const SInterface& interface)
    : mInterfaceId(interface.id), mInterfaceName(IfNameToString(interface.id)), mConfig(Required(parts.config)),
      mRunCommand(parts.runCommand), mErrorHandler(parts.errorHandler),
      mSupported(mConfig->GetBool(interface.hardwareFlag)), mStateTimeout(interface.stateTimeout),
      mLinkSignal(std::make_shared<CDiagnosticsSignal<bool>>(Required(interface.linkSignal))),
      mNetlink(parts.netlink), mClock(parts.clock ? parts.clock : IClock::Steady()),
      mHostSystem(parts.hostSystem ? parts.hostSystem : std::make_shared<CHostSystem>()),
      mProcesses(parts.processOwner ? parts.processOwner : std::make_shared<CProcessOwner>(mHostSystem, mClock))
{
}

bool CTarvConnectionHandlerBase::RunOrRecover(const std::vector<SCommand>& commands, std::uint8_t desiredState)
{
    // Lifecycle work brings its own token; a bring-up on a handler's worker
    // gets one that Disable cancels, before it waits for the link commands.
    if (desiredState != Tarv::kOperStateUp || CCancelToken::Current() != nullptr) {
        return RunLocked(commands, desiredState);
    }
    const auto own = std::make_shared<CCancelToken>();
    {
        std::lock_guard lock(mBringUpMutex);
        mBringUp = own;
    }
    bool result = false;
    {
        CCancelToken::CScope scope(*own);
        result = RunLocked(commands, desiredState);
    }
    std::lock_guard lock(mBringUpMutex);
    if (mBringUp == own) {
        mBringUp.reset();
    }
    return result;
}

bool CTarvConnectionHandlerBase::RunLocked(const std::vector<SCommand>& commands, std::uint8_t desiredState)
{
    std::lock_guard lock(mLinkCommandMutex);
    for (const SCommand& command : commands) {
        if (mRunCommand->Run(command.commandLine, command.retries).exitCode != 0) {
            const CCancelToken* const token = CCancelToken::Current();
            if (token != nullptr && token->IsCancelled()) {
                TLOG_INFO("Changing {} was cancelled", mInterfaceName);
                return false;
            }
            return mErrorHandler->RecoverFromIfUpDown(mInterfaceName, desiredState);
        }
    }
    return true;
}

void CTarvConnectionHandlerBase::CancelBringUp()
{
    std::lock_guard lock(mBringUpMutex);
    if (mBringUp) {
        mBringUp->Cancel();
    }
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
    if (!RunOrRecover({{"ifup " + mInterfaceName, 0}}, Tarv::kOperStateUp)) {
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
    // A bring-up of the handler's worker would hold the link commands until
    // its ifup ended (a lease wait lasts up to the command's deadline).
    CancelBringUp();
    if (!RunOrRecover({{"ip link set dev " + mInterfaceName + " down", kDownRetries}, {"ifdown " + mInterfaceName, 0}},
                      Tarv::kOperStateDown)) {
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
    if (IsLateUpStateAFailure()) {
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
    status.set_connectionstate(ConnectionStateOf(link.State()));
    if (status.connectionstate() != ipc::MNetStatus::ENotSet) {
        mLinkSignal->SetValue(status.connectionstate() == ipc::MNetStatus::EConnected);
    }
    return status;
}

ipc::MNetStatus::EConnectionState CTarvConnectionHandlerBase::ConnectionStateOf(std::uint8_t operState)
{
    if (operState == Tarv::kOperStateUp) {
        return ipc::MNetStatus::EConnected;
    }
    // Down, lower layer down, testing, dormant and anything unknown to us.
    return operState >= Tarv::kOperStateDown ? ipc::MNetStatus::EDisconnected : ipc::MNetStatus::ENotSet;
}

void CTarvConnectionHandlerBase::SendDiagSignals()
{
    TLOG_FUNCTION();
    mLinkSignal->Send();
}

void CTarvConnectionHandlerBase::SendExtendedDiagSignals()
{
    TLOG_FUNCTION();
}

void CTarvConnectionHandlerBase::GetIpProperties(ipc::MNetStatus& status)
{
    TLOG_FUNCTION();
    const auto addresses = mHostSystem->Ipv4Addresses();
    if (!addresses) {
        TLOG_ERROR("Could not get address information");
        return;
    }
    const auto entry = std::find_if(addresses->begin(), addresses->end(),
                                    [this](const IHostSystem::SIpv4Address& a) { return a.interfaceName == mInterfaceName; });
    if (entry == addresses->end()) {
        TLOG_DEBUG("Could not get ip properties for {}", mInterfaceName);
        return;
    }

    char address[INET_ADDRSTRLEN] = {};
    char netmask[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &entry->address, address, sizeof address);
    inet_ntop(AF_INET, &entry->netmask, netmask, sizeof netmask);
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

SProcessIdentity CTarvConnectionHandlerBase::UdhcpcIdentity() const
{
    return {"udhcpc", "/var/run/udhcpc." + mInterfaceName + ".pid", mInterfaceName};
}

int CTarvConnectionHandlerBase::GetUdhcpcPid()
{
    const SProcessIdentity identity = UdhcpcIdentity();
    const std::string path = CRootDir::Resolve(identity.pidFile);
    std::ifstream file(path);
    if (!file.is_open() || file.peek() == std::ifstream::traits_type::eof()) {
        TLOG_ERROR("Could not open {}", path);
        return -1;
    }
    return mProcesses->Find(identity);
}

bool CTarvConnectionHandlerBase::TriggerUdhcpcRenew(int pid)
{
    // 0 would signal our own process group, -1 every process we may signal.
    if (pid <= 0) {
        return false;
    }
    if (mProcesses->Signal(UdhcpcIdentity(), pid, SIGUSR1)) {
        TLOG_INFO("Triggered renew udhcpc for {}", mInterfaceName);
        return true;
    }
    TLOG_ERROR("Failed to trigger renew udhcpc for {}", mInterfaceName);
    return false;
}
