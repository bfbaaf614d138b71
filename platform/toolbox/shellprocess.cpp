#include "platform/toolbox/shellprocess.h"

#include "platform/toolbox/uniquefd.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Bytes read in one go before the deadline and the shell are checked again.
constexpr std::size_t kReadBudget = 64 * 1024;
// What is read once the shell has exited: the pipe's default capacity, so
// a background process that keeps writing cannot hold the run.
constexpr std::size_t kPipeDrainBytes = 64 * 1024;

// Owns the spawn set-up objects.
class CSpawnSetup {
public:
    CSpawnSetup()
    {
        mActionsReady = ::posix_spawn_file_actions_init(&mActions) == 0;
        mAttributesReady = ::posix_spawnattr_init(&mAttributes) == 0;
    }
    ~CSpawnSetup()
    {
        if (mActionsReady) {
            ::posix_spawn_file_actions_destroy(&mActions);
        }
        if (mAttributesReady) {
            ::posix_spawnattr_destroy(&mAttributes);
        }
    }
    CSpawnSetup(const CSpawnSetup&) = delete;
    CSpawnSetup& operator=(const CSpawnSetup&) = delete;

    bool Ready() const { return mActionsReady && mAttributesReady; }
    posix_spawn_file_actions_t* Actions() { return &mActions; }
    posix_spawnattr_t* Attributes() { return &mAttributes; }

private:
    posix_spawn_file_actions_t mActions{};
    posix_spawnattr_t mAttributes{};
    bool mActionsReady = false;
    bool mAttributesReady = false;
};

// Appends what can be read without blocking, up to the output limit, and
// reads at most budget bytes so that a writer faster than this reader never
// keeps it here; false at end of file or on a read error.
bool ReadAvailable(int fd, std::string& output, std::size_t& dropped, std::size_t budget)
{
    std::array<char, 4096> chunk{};
    std::size_t taken = 0;
    while (taken < budget) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n > 0) {
            const std::size_t room =
                CShellProcess::kMaxOutputBytes - std::min(output.size(), CShellProcess::kMaxOutputBytes);
            const std::size_t keep = std::min(room, static_cast<std::size_t>(n));
            output.append(chunk.data(), keep);
            dropped += static_cast<std::size_t>(n) - keep;
            taken += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

// Waits for the child (flags as for waitpid): true once it has been reaped
// into status; false while it runs (WNOHANG) or when it cannot be waited for
// (failed set).
bool Reap(pid_t pid, int flags, int& status, bool& failed)
{
    while (true) {
        const pid_t r = ::waitpid(pid, &status, flags);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        failed = r < 0;
        return false;
    }
}

// The process group of the shell and those of everything below it. A
// program that puts its own children in a group of its own (ifup does)
// would outlive a signal to the shell's group alone. This process's own
// group is never among them.
std::vector<pid_t> CommandGroups(pid_t shell)
{
    std::multimap<pid_t, std::pair<pid_t, pid_t>> byParent; // parent -> (pid, group)
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string stat;
        std::getline(std::ifstream(entry.path() / "stat"), stat);
        const auto nameEnd = stat.rfind(')'); // the name may hold anything
        char state = 0;
        pid_t parent = 0;
        pid_t group = 0;
        if (nameEnd != std::string::npos && std::istringstream(stat.substr(nameEnd + 1)) >> state >> parent >> group) {
            byParent.emplace(parent, std::pair{static_cast<pid_t>(std::stol(name)), group});
        }
    }
    std::vector<pid_t> groups{shell};
    std::vector<pid_t> pending{shell};
    const pid_t own = ::getpgrp();
    // Bounded: a snapshot of /proc taken while pids are reused is no tree.
    for (std::size_t visited = 0; !pending.empty() && visited < byParent.size(); ++visited) {
        const pid_t parent = pending.back();
        pending.pop_back();
        for (auto [it, end] = byParent.equal_range(parent); it != end; ++it) {
            const auto [pid, group] = it->second;
            pending.push_back(pid);
            if (group > 0 && group != own && std::find(groups.begin(), groups.end(), group) == groups.end()) {
                groups.push_back(group);
            }
        }
    }
    return groups;
}

// Ends the command past its deadline or cancelled: SIGTERM to its process
// groups, up to termGrace for the shell to exit, then SIGKILL to them all
// (also the processes that outlived the shell or ignore SIGTERM).
void StopCommand(pid_t shell, const CUniqueFd& exitFd, std::chrono::milliseconds termGrace,
                 CShellProcess::SResult& result, bool& failed)
{
    const std::vector<pid_t> groups = CommandGroups(shell);
    for (const pid_t group : groups) {
        ::kill(-group, SIGTERM);
    }
    const auto graceEnd = Clock::now() + termGrace;
    while (!failed && !(result.waited = Reap(shell, WNOHANG, result.waitStatus, failed)) &&
           Clock::now() < graceEnd) {
        pollfd exitPfd{exitFd.Get(), POLLIN, 0};
        ::poll(&exitPfd, 1, CShellProcess::kExitCheckIntervalMs);
    }
    for (const pid_t group : groups) {
        ::kill(-group, SIGKILL);
    }
}

// Starts "sh -c commandLine" with its output going to writeFd, in a
// process group of its own, with no blocked signals and default
// dispositions; returns 0 or the errno-style reason it did not start.
int SpawnShell(const std::string& commandLine, const CShellProcess::SOptions& options, int writeFd, pid_t& pid)
{
    CSpawnSetup setup;
    if (!setup.Ready()) {
        return ENOMEM;
    }
    if (options.stdinFromDevNull) {
        ::posix_spawn_file_actions_addopen(setup.Actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(setup.Actions(), writeFd, STDOUT_FILENO);
    if (options.mergeStderr) {
        ::posix_spawn_file_actions_adddup2(setup.Actions(), writeFd, STDERR_FILENO);
    }
    sigset_t signals;
    ::sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(setup.Attributes(), &signals);
    ::sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(setup.Attributes(), &signals);
    ::posix_spawnattr_setpgroup(setup.Attributes(), 0);
    ::posix_spawnattr_setflags(setup.Attributes(),
                               POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    const char* argv[] = {"sh", "-c", commandLine.c_str(), nullptr};
    return ::posix_spawn(&pid, "/bin/sh", setup.Actions(), setup.Attributes(), const_cast<char* const*>(argv),
                         environ);
}

// Reads the shell's output until it has exited (true: it was reaped, the
// run is over), or until the deadline passes, the run is cancelled or it
// cannot be waited for (false, with result and failed telling which).
bool CollectOutput(pid_t pid, int readFd, const CUniqueFd& exitFd, Clock::time_point deadline, int cancelFd,
                   std::string& output, CShellProcess::SResult& result, bool& failed)
{
    bool eof = false;
    while (!failed) {
        const auto now = Clock::now();
        if (now >= deadline) {
            result.timedOut = true;
            break;
        }
        long long timeoutMs = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (!exitFd.IsOpen()) {
            timeoutMs = std::min<long long>(timeoutMs, CShellProcess::kExitCheckIntervalMs);
        }
        // poll skips entries with a negative descriptor.
        pollfd fds[3] = {{eof ? -1 : readFd, POLLIN, 0}, {exitFd.Get(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(fds, 3, static_cast<int>(timeoutMs));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && fds[2].revents != 0) {
            result.cancelled = true;
            break;
        }
        if (ready > 0 && fds[0].revents != 0) {
            eof = !ReadAvailable(readFd, output, result.droppedBytes, kReadBudget);
        }
        // Whatever the pipe does: once the shell is gone, a process it left
        // in the background may hold the pipe (and keep writing to it); take
        // what is there and stop.
        result.waited = Reap(pid, WNOHANG, result.waitStatus, failed);
        if (result.waited) {
            if (!eof) {
                ReadAvailable(readFd, output, result.droppedBytes, kPipeDrainBytes);
            }
            return true;
        }
    }
    return false;
}

} // namespace

CShellProcess::SResult CShellProcess::Run(const std::string& commandLine, const SOptions& options,
                                          std::string& output)
{
    SResult result;
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.spawnError = errno;
        return result;
    }
    CUniqueFd readEnd(fds[0]);
    CUniqueFd writeEnd(fds[1]);
    ::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);

    pid_t pid = -1;
    result.spawnError = SpawnShell(commandLine, options, writeEnd.Get(), pid);
    if (result.spawnError != 0) {
        return result;
    }
    result.started = true;
    writeEnd.Close();

    // The command's process group: SpawnShell makes the shell its leader.
    const pid_t group = pid;
    const auto deadline = Clock::now() + options.deadline;
    // Readable once the shell has exited; without it (old kernels) the
    // shell is checked every kExitCheckIntervalMs.
    const CUniqueFd exitFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    bool failed = false;
    if (CollectOutput(pid, readEnd.Get(), exitFd, deadline, options.cancelFd, output, result, failed)) {
        return result;
    }
    if (result.timedOut || result.cancelled) {
        StopCommand(group, exitFd, options.termGrace, result, failed);
    }
    if (!result.waited && !failed) {
        result.waited = Reap(pid, 0, result.waitStatus, failed);
    }
    return result;
}

std::string CShellProcess::ProgramName(const std::string& commandLine)
{
    const auto begin = commandLine.find_first_not_of(" \t\n");
    if (begin == std::string::npos) {
        return {};
    }
    const auto end = commandLine.find_first_of(" \t\n;&|<>", begin);
    return commandLine.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}
