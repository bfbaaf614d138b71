#include "src/components/runcommand.h"

#include "platform/log/log.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

extern char** environ;

namespace {

// Closes the descriptor it owns.
class CPipeEnd {
public:
    explicit CPipeEnd(int fd = -1) : mFd(fd) {}
    ~CPipeEnd() { Close(); }
    CPipeEnd(const CPipeEnd&) = delete;
    CPipeEnd& operator=(const CPipeEnd&) = delete;
    int Get() const { return mFd; }
    void Close()
    {
        if (mFd >= 0) {
            ::close(mFd);
            mFd = -1;
        }
    }

private:
    int mFd;
};

// Appends what can be read without blocking; false at end of file or on error.
bool ReadAvailable(int fd, std::string& output)
{
    char buffer[128];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof(buffer) - 1);
        if (got > 0) {
            output.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// The child's wait status once it has exited; nothing while it runs (with
// WNOHANG) or when it cannot be waited for.
std::optional<int> Reap(pid_t pid, int flags, bool& failed)
{
    int status = 0;
    while (true) {
        const pid_t reaped = ::waitpid(pid, &status, flags);
        if (reaped == pid) {
            return status;
        }
        if (reaped < 0 && errno == EINTR) {
            continue;
        }
        failed = reaped < 0;
        return std::nullopt;
    }
}

// One run of the command: its wait status, or nothing when it did not start
// (started false) or could not be waited for.
std::optional<int> RunOnce(const std::string& commandLine, std::string& output, bool& started)
{
    started = false;
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    CPipeEnd readEnd(fds[0]);
    CPipeEnd writeEnd(fds[1]);
    ::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        return std::nullopt;
    }
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);

    // The command starts with no blocked signals and default dispositions,
    // whatever the calling thread blocks or the process ignores: daemons
    // started through it must stay stoppable with SIGTERM.
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return std::nullopt;
    }
    sigset_t signals;
    ::sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(&attributes, &signals);
    ::sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(&attributes, &signals);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const char* argv[] = {"sh", "-c", commandLine.c_str(), nullptr};
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        return std::nullopt;
    }
    started = true;
    writeEnd.Close();

    bool failed = false;
    std::optional<int> status;
    while (!status && !failed) {
        pollfd pfd{readEnd.Get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, CRunCommand::kExitCheckIntervalMs);
        if (ready > 0) {
            if (!ReadAvailable(readEnd.Get(), output)) {
                break; // end of file: every writer is gone
            }
        } else if (ready == 0 || errno == EINTR) {
            status = Reap(pid, WNOHANG, failed);
            if (status) {
                ReadAvailable(readEnd.Get(), output);
            }
        } else {
            break;
        }
    }
    if (!status && !failed) {
        status = Reap(pid, 0, failed);
    }
    return status;
}

} // namespace

SCommandResult CRunCommand::Run(const std::string& commandLine, unsigned retries)
{
    SCommandResult result;
    for (unsigned attempt = 0; attempt <= retries; ++attempt) {
        result.output.clear();
        bool started = false;
        const std::optional<int> status = RunOnce(commandLine, result.output, started);
        if (!started) {
            TLOG_ERROR("popen failed");
        }
        if (!result.output.empty() && result.output.back() == '\n') {
            result.output.pop_back();
        }
        if (status && WIFEXITED(*status)) {
            result.exitCode = WEXITSTATUS(*status);
            if (result.exitCode == 0) {
                return result;
            }
        }
    }
    return result;
}
