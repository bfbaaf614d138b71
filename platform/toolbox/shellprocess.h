#pragma once
// One run of a command line under /bin/sh -c with its output captured
// through a pipe. Shared by every place that runs shell commands.

#include <chrono>
#include <cstddef>
#include <string>

class CShellProcess {
public:
    struct SOptions {
        // Standard error goes into the output too (otherwise it is the daemon's own).
        bool mergeStderr = false;
        // Standard input is /dev/null (otherwise it is the daemon's own).
        bool stdinFromDevNull = false;
        // How long the shell may run. When it passes, the command's process
        // group (and any group a program below the shell made for its own
        // children) gets SIGTERM and, if still there after termGrace, SIGKILL.
        std::chrono::milliseconds deadline = kDefaultDeadline;
        std::chrono::milliseconds termGrace = kDefaultTermGrace;
        // A descriptor that becomes readable when the run is to be cancelled
        // (-1: none); the command is then stopped as at its deadline.
        int cancelFd = -1;
    };

    struct SResult {
        // The shell was started; spawnError holds the errno-style reason when not.
        bool started = false;
        int spawnError = 0;
        // The shell was waited for; waitStatus is then its wait status.
        bool waited = false;
        int waitStatus = 0;
        // The deadline passed and the command's process group was stopped.
        bool timedOut = false;
        // The run was cancelled and the command's process group was stopped.
        bool cancelled = false;
        // Output beyond kMaxOutputBytes was read and dropped.
        std::size_t droppedBytes = 0;
    };

    CShellProcess() = delete;

    // Runs the command line and appends everything it writes to output.
    //
    // The command starts with no blocked signals and default dispositions,
    // whatever this process's threads block or ignore: daemons started
    // through it must stay stoppable with SIGTERM. It runs in a process group
    // of its own, so that a deadline stops everything it started.
    //
    // The run ends when the shell has exited: a process the command leaves in
    // the background (a DHCP client started by ifup, say) may keep the output
    // pipe open for good, and may keep writing to it, so once the shell is
    // gone only the output already in the pipe is collected. Such background
    // processes are left running.
    //
    // The deadline is real time (a child process runs in real time whatever
    // clock the caller uses).
    static SResult Run(const std::string& commandLine, const SOptions& options, std::string& output);

    // The first word of a command line, for log lines: the rest may carry a
    // secret (a passphrase handed to a tool).
    static std::string ProgramName(const std::string& commandLine);

    static constexpr std::size_t kMaxOutputBytes = 1024 * 1024;
    // Covers the slowest legitimate command the daemon runs.
    static constexpr std::chrono::milliseconds kDefaultDeadline{120000};
    static constexpr std::chrono::milliseconds kDefaultTermGrace{2000};
    // How often the reader checks whether the shell has exited while the pipe stays silent.
    static constexpr int kExitCheckIntervalMs = 20;
};
