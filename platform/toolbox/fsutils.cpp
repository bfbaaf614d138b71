#include "platform/toolbox/fsutils.h"

#include "platform/log/log.h"
#include "platform/toolbox/shellprocess.h"

#include <sys/wait.h>

#include <system_error>

int CFsUtils::RunSystemCmd(const std::string& command, std::string& output)
{
    output.clear();
    const CShellProcess::SResult run =
        CShellProcess::Run(command, {.mergeStderr = true, .stdinFromDevNull = true}, output);
    if (!run.started) {
        TLOG_ERROR("Cannot run '{}': {}", command, std::generic_category().message(run.spawnError));
        return -1;
    }
    if (!run.waited) {
        TLOG_ERROR("Cannot collect the exit status of '{}'", command);
        return -1;
    }
    if (run.droppedBytes > 0) {
        TLOG_WARN("Output of '{}' truncated, {} bytes dropped", command, run.droppedBytes);
    }
    if (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    if (WIFEXITED(run.waitStatus)) {
        return WEXITSTATUS(run.waitStatus);
    }
    if (WIFSIGNALED(run.waitStatus)) {
        TLOG_ERROR("'{}' was ended by signal {}", command, WTERMSIG(run.waitStatus));
    }
    return -1;
}
