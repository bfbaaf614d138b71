#pragma once
// Runs shell command lines and collects their standard output.

#include "platform/toolbox/shellprocess.h"
#include "src/components/system/iruncommand.h"

class CRunCommand : public IRunCommand {
public:
    // termGrace: how long a command past its deadline has between SIGTERM
    // and SIGKILL.
    explicit CRunCommand(std::chrono::milliseconds termGrace = CShellProcess::kDefaultTermGrace)
        : mTermGrace(termGrace)
    {
    }

    // Starts the command line with /bin/sh -c at most retries + 1 times,
    // without pause, and stops at the first run that exits with status 0.
    // Standard output is captured (one trailing newline removed); standard
    // error and standard input are the daemon's own, as with popen. The
    // result holds the output and exit status of the last run; exitCode is
    // -1 when that run did not exit normally (not started, ended by a
    // signal, or stopped at its deadline).
    //
    // A run ends when the shell has exited (see CShellProcess), and output
    // beyond CShellProcess::kMaxOutputBytes is dropped. A run still going at
    // its deadline is stopped with its whole process group and logged.
    SCommandResult Run(const std::string& commandLine, unsigned retries) override;
    SCommandResult RunWithDeadline(const std::string& commandLine, unsigned retries,
                                   std::chrono::milliseconds deadline) override;

private:
    const std::chrono::milliseconds mTermGrace;
};
