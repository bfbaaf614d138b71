#pragma once
// Runs shell command lines with a bounded number of retries.

#include <chrono>
#include <string>

struct SCommandResult {
    // -1 until a run exited normally, then its exit status.
    int exitCode = -1;
    // Standard output with at most one trailing newline removed.
    std::string output;
};

class IRunCommand {
public:
    // Deadline of each try of Run: covers the slowest legitimate command.
    static constexpr std::chrono::milliseconds kDefaultDeadline{120000};

    virtual ~IRunCommand() = default;
    // Runs the command at most retries + 1 times, stopping at the first exit status 0.
    // Each try that outlives kDefaultDeadline is stopped and counts as failed.
    virtual SCommandResult Run(const std::string& commandLine, unsigned retries) = 0;
    // The same with a deadline of the caller's for each try. Scripted runners
    // that know no deadline answer as Run does.
    virtual SCommandResult RunWithDeadline(const std::string& commandLine, unsigned retries,
                                           std::chrono::milliseconds deadline)
    {
        static_cast<void>(deadline);
        return Run(commandLine, retries);
    }
};
