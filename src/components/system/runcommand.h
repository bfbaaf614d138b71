#pragma once
// Runs shell command lines and collects their standard output.

#include "src/components/system/iruncommand.h"

class CRunCommand : public IRunCommand {
public:
    // Starts the command line with /bin/sh -c at most retries + 1 times,
    // without pause, and stops at the first run that exits with status 0.
    // Standard output is captured (one trailing newline removed); standard
    // error and standard input are the daemon's own, as with popen. The
    // result holds the output and exit status of the last run; exitCode stays
    // -1 while no run exited normally (not started, or ended by a signal).
    //
    // A run ends when the shell has exited (see CShellProcess), and output
    // beyond CShellProcess::kMaxOutputBytes is dropped.
    SCommandResult Run(const std::string& commandLine, unsigned retries) override;
};
