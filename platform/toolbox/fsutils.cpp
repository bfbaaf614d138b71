#include "platform/toolbox/fsutils.h"

#include "platform/log/log.h"
#include "platform/toolbox/shellprocess.h"

#include <sys/wait.h>

#include <system_error>

int CFsUtils::RunSystemCmd(const std::string& command, std::string& output, std::chrono::milliseconds deadline)
{
    output.clear();
    const CShellProcess::SResult run = CShellProcess::Run(
        command, {.mergeStderr = true, .stdinFromDevNull = true, .deadline = deadline}, output);
    if (!run.started) {
        TLOG_ERROR("Cannot run '{}': {}", CShellProcess::ProgramName(command), std::generic_category().message(run.spawnError));
        return -1;
    }
    if (!run.waited) {
        TLOG_ERROR("Cannot collect the exit status of '{}'", CShellProcess::ProgramName(command));
        return -1;
    }
    if (run.droppedBytes > 0) {
        TLOG_WARN("Output of '{}' truncated, {} bytes dropped", CShellProcess::ProgramName(command), run.droppedBytes);
    }
    if (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    if (run.timedOut) {
        TLOG_ERROR("'{}' did not finish within {} ms and was stopped", CShellProcess::ProgramName(command),
                   deadline.count());
        return -1;
    }
    if (WIFEXITED(run.waitStatus)) {
        return WEXITSTATUS(run.waitStatus);
    }
    if (WIFSIGNALED(run.waitStatus)) {
        TLOG_ERROR("'{}' was ended by signal {}", CShellProcess::ProgramName(command), WTERMSIG(run.waitStatus));
    }
    return -1;
}
