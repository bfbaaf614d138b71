#include "platform/toolbox/shellprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

extern char** environ;

namespace {

// Closes the descriptor it owns.
class CFd {
public:
    explicit CFd(int fd = -1) : mFd(fd) {}
    ~CFd() { Close(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
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

// Appends what can be read without blocking, up to the output limit; false
// at end of file or on a read error.
bool ReadAvailable(int fd, std::string& output, std::size_t& dropped)
{
    std::array<char, 4096> chunk{};
    while (true) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n > 0) {
            const std::size_t room =
                CShellProcess::kMaxOutputBytes - std::min(output.size(), CShellProcess::kMaxOutputBytes);
            const std::size_t keep = std::min(room, static_cast<std::size_t>(n));
            output.append(chunk.data(), keep);
            dropped += static_cast<std::size_t>(n) - keep;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
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
    CFd readEnd(fds[0]);
    CFd writeEnd(fds[1]);
    ::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);

    CSpawnSetup setup;
    if (!setup.Ready()) {
        result.spawnError = ENOMEM;
        return result;
    }
    if (options.stdinFromDevNull) {
        ::posix_spawn_file_actions_addopen(setup.Actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ::posix_spawn_file_actions_adddup2(setup.Actions(), writeEnd.Get(), STDOUT_FILENO);
    if (options.mergeStderr) {
        ::posix_spawn_file_actions_adddup2(setup.Actions(), writeEnd.Get(), STDERR_FILENO);
    }
    sigset_t signals;
    ::sigemptyset(&signals);
    ::posix_spawnattr_setsigmask(setup.Attributes(), &signals);
    ::sigfillset(&signals);
    ::posix_spawnattr_setsigdefault(setup.Attributes(), &signals);
    ::posix_spawnattr_setflags(setup.Attributes(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const char* argv[] = {"sh", "-c", commandLine.c_str(), nullptr};
    pid_t pid = -1;
    result.spawnError = ::posix_spawn(&pid, "/bin/sh", setup.Actions(), setup.Attributes(),
                                      const_cast<char* const*>(argv), environ);
    if (result.spawnError != 0) {
        return result;
    }
    result.started = true;
    writeEnd.Close();

    bool failed = false;
    while (!result.waited && !failed) {
        pollfd pfd{readEnd.Get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, kExitCheckIntervalMs);
        if (ready > 0) {
            if (!ReadAvailable(readEnd.Get(), output, result.droppedBytes)) {
                break; // end of file: every writer is gone
            }
        } else if (ready == 0 || errno == EINTR) {
            // Silent pipe: if the shell is gone, a process it left in the
            // background holds the pipe; take what is there and stop.
            result.waited = Reap(pid, WNOHANG, result.waitStatus, failed);
            if (result.waited) {
                ReadAvailable(readEnd.Get(), output, result.droppedBytes);
            }
        } else {
            break;
        }
    }
    if (!result.waited && !failed) {
        result.waited = Reap(pid, 0, result.waitStatus, failed);
    }
    return result;
}
