#pragma once
// IProcessOwner over the running system: pid files under the root
// directory, /proc for a process's name and command line, kill for signals.

#include "platform/worker/iclock.h"
#include "src/components/handlers/ihostsystem.h"
#include "src/components/system/iprocessowner.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CProcessOwner : public IProcessOwner {
public:
    // Throws std::invalid_argument without a host system.
    explicit CProcessOwner(std::shared_ptr<IHostSystem> hostSystem, std::shared_ptr<IClock> clock = IClock::Steady());

    int Find(const SProcessIdentity& identity) override;
    bool Signal(const SProcessIdentity& identity, int pid, int signalNumber) override;
    bool Stop(const SProcessIdentity& identity, std::chrono::milliseconds grace) override;
    void NoteStarted(const SProcessIdentity& identity) override;
    std::size_t StopLeftovers(const std::vector<SProcessIdentity>& identities,
                              std::chrono::milliseconds grace) override;

    // Whether the process is the identity's program on its interface.
    bool IsProcessOf(const SProcessIdentity& identity, int pid);

    static constexpr std::chrono::milliseconds kPollInterval{50};

private:
    // A process found by StopLeftovers, as it was when found.
    struct SLeftover {
        int pid = 0;
        std::string comm;          // as /proc gave it, to tell a reused pid
        std::string interfaceName; // of the identity it (or its ancestor) matched
    };

    // The identities' processes and those below them, from one look at /proc.
    std::vector<SLeftover> FindLeftovers(const std::vector<SProcessIdentity>& identities);
    // Whether the process found is still running (not gone, a zombie or reused).
    bool StillRuns(const SLeftover& leftover);
    // Waits up to grace for every one of them to end.
    bool AllEnd(const std::vector<SLeftover>& leftovers, std::chrono::milliseconds grace);
    // The pid in the pid file, when it is the identity's process; -1 otherwise.
    int ReadPid(const SProcessIdentity& identity);
    // Waits up to grace for the process to end (or to be another's).
    bool Ends(const SProcessIdentity& identity, int pid, std::chrono::milliseconds grace);

    const std::shared_ptr<IHostSystem> mHostSystem;
    const std::shared_ptr<IClock> mClock;
    std::mutex mMutex;                                      // guards mStarted
    std::map<std::string, IClock::time_point> mStarted;    // pid file -> start noted, until found
};
