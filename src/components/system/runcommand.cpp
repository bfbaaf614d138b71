#include "src/components/system/runcommand.h"

#include "platform/log/log.h"
#include "platform/toolbox/shellprocess.h"

#include <sys/wait.h>

SCommandResult CRunCommand::Run(const std::string& commandLine, unsigned retries)
{
    SCommandResult result;
    for (unsigned attempt = 0; attempt <= retries; ++attempt) {
        result.output.clear();
        const CShellProcess::SResult run = CShellProcess::Run(commandLine, {}, result.output);
        if (!run.started) {
            TLOG_ERROR("popen failed");
        }
        if (!result.output.empty() && result.output.back() == '\n') {
            result.output.pop_back();
        }
        if (run.waited && WIFEXITED(run.waitStatus)) {
            result.exitCode = WEXITSTATUS(run.waitStatus);
            if (result.exitCode == 0) {
                return result;
            }
        }
    }
    return result;
}
