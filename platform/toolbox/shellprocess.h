#pragma once
// One run of a command line under /bin/sh -c with its output captured
// through a pipe. Shared by every place that runs shell commands.

#include <cstddef>
#include <string>

class CShellProcess {
public:
    struct SOptions {
        // Standard error goes into the output too (otherwise it is the daemon's own).
        bool mergeStderr = false;
        // Standard input is /dev/null (otherwise it is the daemon's own).
        bool stdinFromDevNull = false;
    };

    struct SResult {
        // The shell was started; spawnError holds the errno-style reason when not.
        bool started = false;
        int spawnError = 0;
        // The shell was waited for; waitStatus is then its wait status.
        bool waited = false;
        int waitStatus = 0;
        // Output beyond kMaxOutputBytes was read and dropped.
        std::size_t droppedBytes = 0;
    };

    CShellProcess() = delete;

    // Runs the command line and appends everything it writes to output.
    //
    // The command starts with no blocked signals and default dispositions,
    // whatever this process's threads block or ignore: daemons started
    // through it must stay stoppable with SIGTERM.
    //
    // The run ends when the shell has exited: a process the command leaves in
    // the background (a DHCP client started by ifup, say) may keep the output
    // pipe open for good, so once the shell is gone only the output already
    // written is collected.
    static SResult Run(const std::string& commandLine, const SOptions& options, std::string& output);

    static constexpr std::size_t kMaxOutputBytes = 1024 * 1024;
    // How often the reader checks whether the shell has exited while the pipe stays silent.
    static constexpr int kExitCheckIntervalMs = 20;
};
