#pragma once
// The diagnostics collector of the simulated station: every signal sample
// the network manager sends becomes one line "<UTC time> <identifier>
// <value>" in a record file and on the console. The time is the one the
// sample carries (when the value was taken).

#include "platform/ipc/idiagnostics.h"

#include <iosfwd>
#include <mutex>
#include <string>

class CDiagCollector : public IDiagnostics {
public:
    CDiagCollector(std::string recordPath, std::ostream& out) : mRecordPath(std::move(recordPath)), mOut(out) {}

    // Records the sample; false when the record cannot be written.
    bool SendSample(const CDiagnosticsCommClient::SSample& sample) override;

    // One record line, without the line end. Text is quoted with \", \\ and
    // control characters escaped, so that every sample stays on one line.
    static std::string FormatSample(const CDiagnosticsCommClient::SSample& sample);

private:
    std::mutex mMutex; // guards the record file and mOut
    const std::string mRecordPath;
    std::ostream& mOut;
};
