#include "src/components/system/runcommand.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using TestSupport::CLogCapture;
using TestSupport::CTempDir;
using namespace std::chrono_literals;

namespace {

struct SRetryCase {
    const char* name;
    std::string command; // "$C" is the counter file, one line per run
    unsigned retries;
    std::chrono::milliseconds deadline;
    long runs;
    int exitCode;
    std::string output;
};

TEST(RunCommand, RetriesDeadlinesAndResults)
{
    const std::vector<SRetryCase> cases = {
        {"failure is retried", "echo failed; exit 1", 2, 10s, 3, 1, "failed"},
        {"second run succeeds", "if [ $(wc -l < $C) -lt 2 ]; then echo first; exit 7; fi; echo second", 4, 10s, 2,
         0, "second"},
        {"one newline removed", "printf 'line\\n\\n'", 0, 10s, 1, 0, "line\n"},
        {"stopped at its deadline", "echo slow; sleep 30", 1, 100ms, 2, -1, "slow"},
        {"exit status of the last run", "if [ $(wc -l < $C) -lt 2 ]; then exit 4; fi; sleep 30", 1, 300ms, 2, -1,
         ""},
        {"SIGTERM ignored", "trap '' TERM; sleep 30", 0, 100ms, 1, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir tmp;
        CLogCapture log;
        CRunCommand runner(50ms);
        const std::string counter = tmp.Path() + "/count";
        const SCommandResult result =
            runner.RunWithDeadline("C=" + counter + "; echo run >> $C; " + c.command, c.retries, c.deadline);
        const std::string runs = tmp.ReadFile("count");
        EXPECT_EQ(std::count(runs.begin(), runs.end(), '\n'), c.runs);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.output, c.output);
        const bool stopped = c.deadline < 10s;
        EXPECT_EQ(log.Contains(Log::error, "'C=" + counter + "' did not finish within " +
                                               std::to_string(c.deadline.count()) + " ms and was stopped"),
                  stopped);
    }
}

} // namespace
