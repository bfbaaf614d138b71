#pragma once
// Runs shell command lines through popen and collects their standard output.

#include "src/components/iruncommand.h"

class CRunCommand : public IRunCommand {
public:
    // Starts the command at most retries + 1 times, without pause, and stops
    // at the first run that exits with status 0. The result holds the output
    // and exit status of the last run; exitCode stays -1 while no run exited
    // normally (popen failed or the command was killed by a signal).
    SCommandResult Run(const std::string& commandLine, unsigned retries) override;
};
