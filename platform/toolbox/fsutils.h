#pragma once
// Runs a shell command line and collects what it prints.

#include "platform/toolbox/shellprocess.h"

#include <chrono>
#include <string>

class CFsUtils {
public:
    CFsUtils() = delete;

    // Runs the command line with /bin/sh -c. Standard output and standard
    // error both go into output (in the order written; one trailing newline
    // removed); standard input is /dev/null. Returns 0 when the command
    // exited with status 0, its exit status when it exited otherwise, and
    // -1 when it could not be started or was ended by a signal.
    // Background processes the command leaves behind may keep the output
    // pipe open: once the shell itself has exited, whatever is already in
    // the pipe is collected and the call returns without waiting for them.
    // A command still running after deadline is stopped with its process
    // group (see CShellProcess), logged and reported as -1.
    static int RunSystemCmd(const std::string& command, std::string& output,
                            std::chrono::milliseconds deadline = CShellProcess::kDefaultDeadline);

    // Output beyond this many bytes is read and dropped.
    static constexpr std::size_t kMaxOutputBytes = CShellProcess::kMaxOutputBytes;
};
