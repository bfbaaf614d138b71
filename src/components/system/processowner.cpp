#include "src/components/system/processowner.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

std::string BaseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> SplitArguments(const std::string& cmdline)
{
    std::vector<std::string> arguments;
    std::size_t start = 0;
    while (start < cmdline.size()) {
        const std::size_t end = std::min(cmdline.find('\0', start), cmdline.size());
        arguments.push_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

bool NamesInterface(const std::vector<std::string>& arguments, const std::string& interfaceName)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool separate = argument == "-i" || argument == "--interface";
        if ((separate && i + 1 < arguments.size() && arguments[i + 1] == interfaceName) ||
            argument == "-i" + interfaceName || argument == "--interface=" + interfaceName) {
            return true;
        }
    }
    return false;
}

// Whether an operand (an argument that is no option, nor an option's value)
// is the interface, or "IF=LOGICAL" for it.
bool NamesOperand(const std::vector<std::string>& arguments, const std::string& interfaceName)
{
    static const std::set<std::string> kWithValue{"-i", "-X", "-o", "--interfaces", "--exclude", "--option",
                                                  "--state-dir"};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.starts_with('-')) {
            i += kWithValue.contains(argument) ? 1 : 0;
        } else if (argument == interfaceName || argument.starts_with(interfaceName + "=")) {
            return true;
        }
    }
    return false;
}

// The parent pid in a /proc/PID/stat line; -1 when it holds none.
int ParentOf(const std::string& stat)
{
    const auto nameEnd = stat.rfind(')'); // the name may hold anything
    char state = 0;
    int parent = -1;
    if (nameEnd == std::string::npos || !(std::istringstream(stat.substr(nameEnd + 1)) >> state >> parent)) {
        return -1;
    }
    return parent;
}

// A process's name as /proc gives it, fit for a log line: any process may
// name itself with control characters.
std::string PrintableName(std::string comm)
{
    if (!comm.empty() && comm.back() == '\n') {
        comm.pop_back();
    }
    std::replace_if(comm.begin(), comm.end(), [](unsigned char c) { return c < 0x20 || c >= 0x7f; }, '?');
    return comm;
}

} // namespace

CProcessOwner::CProcessOwner(std::shared_ptr<IHostSystem> hostSystem, std::shared_ptr<IClock> clock)
    : mHostSystem(std::move(hostSystem)), mClock(clock ? std::move(clock) : IClock::Steady())
{
    if (!mHostSystem) {
        throw std::invalid_argument("CProcessOwner: no host system");
    }
}

bool CProcessOwner::IsProcessOf(const SProcessIdentity& identity, int pid)
{
    // A pid file left behind by a process that died may name any other
    // process by now; one of another interface's is not ours either.
    if (pid <= 0) {
        return false;
    }
    std::string comm = mHostSystem->ProcessFile(pid, "comm");
    if (!comm.empty() && comm.back() == '\n') {
        comm.pop_back();
    }
    std::vector<std::string> arguments = SplitArguments(mHostSystem->ProcessFile(pid, "cmdline"));
    if (arguments.empty()) {
        return false; // gone, or a kernel thread
    }
    if (BaseName(arguments.front()) == "busybox") {
        arguments.erase(arguments.begin());
    }
    // comm holds at most 15 characters of the name.
    const bool named = comm == identity.program.substr(0, 15) ||
                       (!arguments.empty() && BaseName(arguments.front()) == identity.program);
    if (!named || identity.interfaceName.empty()) {
        return named;
    }
    return identity.interfaceOperand ? NamesOperand(arguments, identity.interfaceName)
                                     : NamesInterface(arguments, identity.interfaceName);
}

int CProcessOwner::ReadPid(const SProcessIdentity& identity)
{
    std::ifstream file(CRootDir::Resolve(identity.pidFile));
    int pid = 0;
    if (!file.is_open() || !(file >> pid)) {
        return -1;
    }
    if (!IsProcessOf(identity, pid)) {
        TLOG_WARN("{} names process {}, which is not the {} of {}", identity.pidFile, pid, identity.program,
                  identity.interfaceName.empty() ? "station" : identity.interfaceName);
        return -1;
    }
    return pid;
}

int CProcessOwner::Find(const SProcessIdentity& identity)
{
    for (;;) {
        const int pid = ReadPid(identity);
        std::unique_lock lock(mMutex);
        const auto started = mStarted.find(identity.pidFile);
        if (pid > 0 || started == mStarted.end()) {
            if (started != mStarted.end()) {
                mStarted.erase(started);
            }
            return pid;
        }
        if (mClock->Now() - started->second >= kStartWindow) {
            TLOG_WARN("{} started but wrote no pid file to {}", identity.program, identity.pidFile);
            mStarted.erase(started);
            return -1;
        }
        lock.unlock();
        mClock->SleepFor(kPollInterval);
    }
}

bool CProcessOwner::Signal(const SProcessIdentity& identity, int pid, int signalNumber)
{
    // Checked right before the signal: the process may have gone since its
    // pid was read.
    if (!IsProcessOf(identity, pid)) {
        TLOG_ERROR("Process {} is not the {} of {}, not signalled", pid, identity.program,
                   identity.interfaceName.empty() ? "station" : identity.interfaceName);
        return false;
    }
    const int error = mHostSystem->SignalProcess(pid, signalNumber);
    if (error != 0) {
        TLOG_ERROR("Could not signal {} {}: {}", identity.program, pid, error);
        return false;
    }
    return true;
}

bool CProcessOwner::Ends(const SProcessIdentity& identity, int pid, std::chrono::milliseconds grace)
{
    const IClock::time_point start = mClock->Now();
    while (IsProcessOf(identity, pid)) {
        if (mClock->Now() - start >= grace) {
            return false;
        }
        mClock->SleepFor(kPollInterval);
    }
    return true;
}

bool CProcessOwner::Stop(const SProcessIdentity& identity, std::chrono::milliseconds grace)
{
    const int pid = Find(identity);
    if (pid <= 0) {
        return true;
    }
    TLOG_DEBUG("Terminating {}: pid = {}", identity.program, pid);
    if (Signal(identity, pid, SIGTERM) && Ends(identity, pid, grace)) {
        return true;
    }
    TLOG_WARN("{} {} still running after SIGTERM, sending SIGKILL", identity.program, pid);
    if (Signal(identity, pid, SIGKILL) && Ends(identity, pid, grace)) {
        return true;
    }
    // Gone between the checks counts as ended.
    if (!IsProcessOf(identity, pid)) {
        return true;
    }
    TLOG_ERROR("Could not stop {} {}", identity.program, pid);
    return false;
}

void CProcessOwner::NoteStarted(const SProcessIdentity& identity)
{
    std::lock_guard lock(mMutex);
    mStarted[identity.pidFile] = mClock->Now();
}

std::vector<CProcessOwner::SLeftover> CProcessOwner::FindLeftovers(const std::vector<SProcessIdentity>& identities)
{
    const std::vector<int> pids = mHostSystem->ProcessIds();
    std::multimap<int, int> children; // parent -> pid
    std::vector<SLeftover> found;
    for (const int pid : pids) {
        const int parent = ParentOf(mHostSystem->ProcessFile(pid, "stat"));
        if (parent > 0) {
            children.emplace(parent, pid);
        }
        const auto identity = std::find_if(identities.begin(), identities.end(),
                                           [&](const SProcessIdentity& i) { return IsProcessOf(i, pid); });
        if (identity != identities.end()) {
            found.push_back({pid, mHostSystem->ProcessFile(pid, "comm"), identity->interfaceName});
        }
    }
    // What they started (a DHCP client waiting for its lease) goes with
    // them. Each pid is taken once, so a snapshot taken while pids were
    // reused cannot loop.
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (auto [it, end] = children.equal_range(found[i].pid); it != end; ++it) {
            const int child = it->second;
            const bool known =
                std::any_of(found.begin(), found.end(), [&](const SLeftover& l) { return l.pid == child; });
            if (child > 1 && !known) {
                found.push_back({child, mHostSystem->ProcessFile(child, "comm"), found[i].interfaceName});
            }
        }
    }
    return found;
}

bool CProcessOwner::StillRuns(const SLeftover& leftover)
{
    // A zombie has no command line; a reused pid another name.
    return !mHostSystem->ProcessFile(leftover.pid, "cmdline").empty() &&
           mHostSystem->ProcessFile(leftover.pid, "comm") == leftover.comm;
}

bool CProcessOwner::AllEnd(const std::vector<SLeftover>& leftovers, std::chrono::milliseconds grace)
{
    const IClock::time_point start = mClock->Now();
    while (std::any_of(leftovers.begin(), leftovers.end(), [this](const SLeftover& l) { return StillRuns(l); })) {
        if (mClock->Now() - start >= grace) {
            return false;
        }
        mClock->SleepFor(kPollInterval);
    }
    return true;
}

std::size_t CProcessOwner::StopLeftovers(const std::vector<SProcessIdentity>& identities,
                                         std::chrono::milliseconds grace)
{
    const std::vector<SLeftover> leftovers = FindLeftovers(identities);
    for (const int signalNumber : {SIGTERM, SIGKILL}) {
        if (signalNumber == SIGKILL && AllEnd(leftovers, grace)) {
            break;
        }
        for (const SLeftover& leftover : leftovers) {
            if (StillRuns(leftover)) {
                mHostSystem->SignalProcess(leftover.pid, signalNumber);
            }
        }
    }
    AllEnd(leftovers, grace);
    std::size_t stopped = 0;
    for (const SLeftover& leftover : leftovers) {
        if (StillRuns(leftover)) {
            TLOG_ERROR("Could not stop {} (pid {}) of {}, left running by an earlier run",
                       PrintableName(leftover.comm), leftover.pid, leftover.interfaceName);
            continue;
        }
        TLOG_WARN("Stopped {} (pid {}) of {}, left running by an earlier run", PrintableName(leftover.comm),
                  leftover.pid, leftover.interfaceName);
        ++stopped;
    }
    return stopped;
}
