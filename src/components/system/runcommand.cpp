#include "src/components/system/runcommand.h"

#include "platform/log/log.h"
#include "platform/toolbox/shellprocess.h"
#include "platform/worker/canceltoken.h"

#include <sys/wait.h>

#include <system_error>

static_assert(IRunCommand::kDefaultDeadline == CShellProcess::kDefaultDeadline);

SCommandResult CRunCommand::Run(const std::string& commandLine, unsigned retries)
{
    return RunWithDeadline(commandLine, retries, kDefaultDeadline);
}

SCommandResult CRunCommand::RunWithDeadline(const std::string& commandLine, unsigned retries,
                                            std::chrono::milliseconds deadline)
{
    SCommandResult result;
    // The work this thread runs for (a lifecycle step) may be cancelled: its
    // command is then stopped, and none is started any more.
    const CCancelToken* const cancel = CCancelToken::Current();
    for (unsigned attempt = 0; attempt <= retries; ++attempt) {
        result.output.clear();
        result.exitCode = -1;
        if (cancel != nullptr && cancel->IsCancelled()) {
            TLOG_INFO("'{}' not run: its work was cancelled", CShellProcess::ProgramName(commandLine));
            break;
        }
        const CShellProcess::SResult run = CShellProcess::Run(
            commandLine,
            {.deadline = deadline, .termGrace = mTermGrace, .cancelFd = cancel != nullptr ? cancel->Fd() : -1},
            result.output);
        if (run.cancelled) {
            TLOG_INFO("'{}' stopped: its work was cancelled", CShellProcess::ProgramName(commandLine));
            break;
        }
        if (!run.started) {
            TLOG_ERROR("Cannot start '{}': {}", CShellProcess::ProgramName(commandLine),
                       std::generic_category().message(run.spawnError));
        }
        if (run.timedOut) {
            TLOG_ERROR("'{}' did not finish within {} ms and was stopped", CShellProcess::ProgramName(commandLine),
                       deadline.count());
        }
        if (!result.output.empty() && result.output.back() == '\n') {
            result.output.pop_back();
        }
        if (!run.timedOut && run.waited && WIFEXITED(run.waitStatus)) {
            result.exitCode = WEXITSTATUS(run.waitStatus);
            if (result.exitCode == 0) {
                return result;
            }
        }
    }
    return result;
}
