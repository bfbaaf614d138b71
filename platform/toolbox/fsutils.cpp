#include "platform/toolbox/fsutils.h"

#include "platform/log/log.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

extern char** environ;

namespace {

// How long the reader waits for output before checking whether the shell
// has exited.
constexpr int kExitCheckIntervalMs = 50;

std::string ErrorText(int err)
{
    return std::generic_category().message(err);
}

// Closes a descriptor when it leaves scope.
struct SFdCloser {
    int fd = -1;
    ~SFdCloser()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Appends what can be read from fd without blocking; false at end of file
// or on a read error.
bool ReadAvailable(int fd, std::string& output, std::size_t& dropped)
{
    std::array<char, 4096> chunk {};
    while (true) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n > 0) {
            const std::size_t room = CFsUtils::kMaxOutputBytes - std::min(output.size(), CFsUtils::kMaxOutputBytes);
            const std::size_t keep = std::min(room, static_cast<std::size_t>(n));
            output.append(chunk.data(), keep);
            dropped += static_cast<std::size_t>(n) - keep;
            continue;
        }
        if (n == 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

// Waits for the child (flags as for waitpid); false when it cannot be
// waited for. exited tells whether status holds its final wait status.
bool WaitForChild(pid_t pid, int flags, int& status, bool& exited)
{
    while (true) {
        const pid_t r = ::waitpid(pid, &status, flags);
        if (r == pid) {
            exited = true;
            return true;
        }
        if (r == 0) {
            exited = false;
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        return false;
    }
}

} // namespace

int CFsUtils::RunSystemCmd(const std::string& command, std::string& output)
{
    output.clear();

    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        TLOG_ERROR("Cannot run '{}': pipe failed: {}", command, ErrorText(errno));
        return -1;
    }
    SFdCloser readEnd {pipeFds[0]};
    SFdCloser writeEnd {pipeFds[1]};

    // The child's end must block like any ordinary pipe.
    const int flags = ::fcntl(writeEnd.fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(writeEnd.fd, F_SETFL, flags & ~O_NONBLOCK);
    }

    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        TLOG_ERROR("Cannot run '{}': spawn set-up failed", command);
        return -1;
    }
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDERR_FILENO);

    // The command starts with no blocked signals and default dispositions,
    // whatever this process's threads block or ignore; otherwise daemons
    // started through it could not be stopped with SIGTERM.
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        TLOG_ERROR("Cannot run '{}': spawn set-up failed", command);
        return -1;
    }
    sigset_t signals;
    ::sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(&attributes, &signals);
    ::sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(&attributes, &signals);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int spawnError =
        ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char* const*>(argv), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        TLOG_ERROR("Cannot run '{}': {}", command, ErrorText(spawnError));
        return -1;
    }
    ::close(writeEnd.fd);
    writeEnd.fd = -1;

    int status = 0;
    bool exited = false;
    std::size_t dropped = 0;
    bool pipeOpen = true;
    while (pipeOpen) {
        pollfd pfd {readEnd.fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, kExitCheckIntervalMs);
        if (ready < 0 && errno != EINTR) {
            TLOG_ERROR("Reading the output of '{}' failed: {}", command, ErrorText(errno));
            break;
        }
        if (ready > 0) {
            pipeOpen = ReadAvailable(readEnd.fd, output, dropped);
            continue;
        }
        if (ready == 0) {
            // Nothing to read: if the shell is gone, a process it left in the
            // background holds the pipe; take what is there and stop.
            if (!WaitForChild(pid, WNOHANG, status, exited)) {
                break;
            }
            if (exited) {
                ReadAvailable(readEnd.fd, output, dropped);
                break;
            }
        }
    }

    if (!exited && !WaitForChild(pid, 0, status, exited)) {
        TLOG_ERROR("Cannot collect the exit status of '{}': {}", command, ErrorText(errno));
        return -1;
    }

    if (dropped > 0) {
        TLOG_WARN("Output of '{}' truncated, {} bytes dropped", command, dropped);
    }
    if (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }

    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        TLOG_ERROR("'{}' was ended by signal {}", command, WTERMSIG(status));
    }
    return -1;
}
