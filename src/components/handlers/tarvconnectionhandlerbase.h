#pragma once
// Common base of the interface handlers: enabling with ifup, disabling with
// "ip link set ... down" and ifdown, recovery when those fail, waiting for
// the kernel's operational state, the IPv4 address and netmask, the DHCP
// client's lease renewal and the link's diagnostic signal.

#include "platform/ipc/diagnosticssignal.h"
#include "platform/worker/canceltoken.h"
#include "platform/worker/iclock.h"
#include "proto/messages.pb.h"
#include "src/components/system/iruncommand.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/links/itarverrorhandler.h"
#include "src/components/links/itarvnetlink.h"
#include "src/components/handlers/handlerparts.h"
#include "src/components/handlers/ihostsystem.h"
#include "src/components/system/iprocessowner.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CTarvConnectionHandlerBase {
public:
    // What tells one handler's interface apart from the others.
    struct SInterface {
        ipc::EIfName id;
        // The hardware flag that says whether the station has the interface.
        EConfigKey hardwareFlag;
        // How long the handler waits for the interface's state to change.
        std::chrono::seconds stateTimeout;
        const CSignalDefinition<bool>* linkSignal;
    };

    // Throws std::invalid_argument without a configuration or a link signal
    // definition, CTarvException for an unknown interface id. Without a clock
    // the steady one is used, without a host system the real one, without a
    // process owner one over the host system.
    CTarvConnectionHandlerBase(const SHandlerParts& parts, const SInterface& interface);
    virtual ~CTarvConnectionHandlerBase() = default;
    CTarvConnectionHandlerBase(const CTarvConnectionHandlerBase&) = delete;
    CTarvConnectionHandlerBase& operator=(const CTarvConnectionHandlerBase&) = delete;

    // Prepares files or links once per network initialisation, before the
    // first Enable. Most handlers need nothing here.
    virtual void Initialize() {}
    // ok is set true by the caller and only ever cleared here.
    virtual void Enable(bool& ok);
    // Throws CTarvException when the interface cannot be brought down.
    virtual void Disable(bool& ok);
    // Throws CTarvException when the link does not exist.
    virtual ipc::MNetStatus GetStatus();
    virtual void SendDiagSignals();
    virtual void SendExtendedDiagSignals();

    ipc::EIfName GetInterfaceId() const { return mInterfaceId; }
    const std::string& GetInterfaceName() const { return mInterfaceName; }
    bool IsSupported() const { return mSupported; }

    // Connection state reported for a kernel operational state: connected
    // when up; disconnected when down, lower layer down, testing, dormant or
    // anything newer; not set while the state is unknown or not present.
    static ipc::MNetStatus::EConnectionState ConnectionStateOf(std::uint8_t operState);

    // Time the base waits in Disable for the link to go down.
    static constexpr std::chrono::seconds kDisableTimeout{2};
    // Pause between two state queries while waiting.
    static constexpr std::chrono::milliseconds kPollInterval{100};

protected:
    // One command of an interface change, and how often it is retried.
    struct SCommand {
        std::string commandLine;
        unsigned retries = 0;
    };

    // Runs the commands in order up to the first failure; after a failure the
    // error handler tries to bring the interface to desiredState. True when
    // every command succeeded or the recovery did. A bring-up on a thread
    // that runs no cancellable work (a handler's own worker) can be
    // cancelled by Disable; cancelled work is not recovered.
    bool RunOrRecover(const std::vector<SCommand>& commands, std::uint8_t desiredState);
    // Whether an interface that is not up within the wait counts as a failed
    // enable. A handler that watches its link itself after the wait says no.
    virtual bool IsLateUpStateAFailure() const { return true; }
    // Address and netmask (IPv4) of the interface into the status's
    // properties; for the handlers whose status carries them.
    void GetIpProperties(ipc::MNetStatus& status);
    // Asks udhcpc for a new lease when the link has just come up.
    void UpdateUdhcpc(bool linkUp);
    // Pid of the interface's udhcpc, or -1 (also for a pid file naming another process).
    int GetUdhcpcPid();
    // Sends the renew signal to pid once it is checked to be the interface's udhcpc.
    bool TriggerUdhcpcRenew(int pid);
    // The interface's DHCP client as its pid file and command line show it.
    SProcessIdentity UdhcpcIdentity() const;
    // Polls the operational state until it matches or the timeout passes.
    // Throws CTarvException when the down state is not reached; an up state
    // not reached clears ok where IsLateUpStateAFailure says so.
    void WaitForState(IClock::time_point start, std::uint8_t desiredState, std::chrono::milliseconds timeout,
                      bool& ok);

    // Set once at construction.
    const ipc::EIfName mInterfaceId;
    const std::string mInterfaceName;
    const std::shared_ptr<ITarvConfig> mConfig;
    const std::shared_ptr<IRunCommand> mRunCommand;
    const std::shared_ptr<ITarvErrorHandler> mErrorHandler;
    const bool mSupported;
    const std::chrono::seconds mStateTimeout;
    // The signal guards its value with its own lock.
    const std::shared_ptr<CDiagnosticsSignal<bool>> mLinkSignal;
    const std::shared_ptr<ITarvNetlink> mNetlink;
    const std::shared_ptr<IClock> mClock;
    const std::shared_ptr<IHostSystem> mHostSystem;
    // Every process the handler signals or stops goes through it.
    const std::shared_ptr<IProcessOwner> mProcesses;

private:
    bool RunLocked(const std::vector<SCommand>& commands, std::uint8_t desiredState);
    // Cancels the bring-up in flight on a handler's worker, if any.
    void CancelBringUp();

    // The bring-up (ifup waiting for its lease, say) running on a handler's
    // worker; Disable cancels it so that it does not hold the link commands.
    std::mutex mBringUpMutex;
    std::shared_ptr<CCancelToken> mBringUp; // guarded by mBringUpMutex
    // Serialises the interface's ifup/ifdown command sequences (and their
    // recovery): ifupdown must never bring the same interface up and down
    // at once, whichever threads ask.
    std::mutex mLinkCommandMutex;
    // Last link state seen by UpdateUdhcpc; atomic because status queries run
    // on several threads.
    std::atomic<bool> mLastUdhcpcLinkUp{false};
};
