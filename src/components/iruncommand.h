#pragma once
// Runs shell command lines with a bounded number of retries.

#include <string>

struct SCommandResult {
    // -1 until a run exited normally, then its exit status.
    int exitCode = -1;
    // Standard output with at most one trailing newline removed.
    std::string output;
};

class IRunCommand {
public:
    virtual ~IRunCommand() = default;
    // Runs the command at most retries + 1 times, stopping at the first exit status 0.
    virtual SCommandResult Run(const std::string& commandLine, unsigned retries) = 0;
};
