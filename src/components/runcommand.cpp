#include "src/components/runcommand.h"

#include "platform/log/log.h"

#include <sys/wait.h>

#include <cstdio>
#include <memory>

namespace {

struct SPipeCloser {
    // Set by the deleter: the status pclose reported.
    int* status;
    void operator()(FILE* pipe) const { *status = ::pclose(pipe); }
};

} // namespace

SCommandResult CRunCommand::Run(const std::string& commandLine, unsigned retries)
{
    SCommandResult result;
    for (unsigned attempt = 0; attempt <= retries; ++attempt) {
        result.output.clear();
        int status = -1;
        {
            std::unique_ptr<FILE, SPipeCloser> pipe(::popen(commandLine.c_str(), "re"), SPipeCloser{&status});
            if (!pipe) {
                TLOG_ERROR("popen failed");
                continue;
            }
            char buffer[128];
            std::size_t got = 0;
            while ((got = std::fread(buffer, 1, sizeof(buffer) - 1, pipe.get())) > 0) {
                result.output.append(buffer, got);
            }
        }
        if (!result.output.empty() && result.output.back() == '\n') {
            result.output.pop_back();
        }
        if (status != -1 && WIFEXITED(status)) {
            result.exitCode = WEXITSTATUS(status);
            if (result.exitCode == 0) {
                return result;
            }
        }
    }
    return result;
}
