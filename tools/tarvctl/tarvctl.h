#pragma once
// Command-line client of the network manager: drives its lifecycle, shows
// its state and notifications and reads or sets its log level, through the
// same IPC configuration file the daemon reads; reads and writes its
// configuration files.

#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/ilogconfig.h"
#include "proto/messages.pb.h"

#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CTarvCtl {
public:
    CTarvCtl(std::ostream& out, std::ostream& err) : mOut(out), mErr(err) {}
    // Runs one command line (without the program name); returns the exit code.
    int Run(const std::vector<std::string>& arguments);

private:
    using Host = AppCommunicationHost<GrpcBackend>;

    int Usage();
    // Writes the one-line error; returns the exit code 1.
    int Fail(const std::string& message);
    int LogLevel(Rpc::ILogConfig& logConfig, const std::vector<std::string>& rest);
    int Config(const std::string& root, const std::vector<std::string>& rest);
    void PrintStatuses(const std::map<int, ipc::MNetStatus>& statuses);
    int Report(const std::shared_ptr<Host>& host, const std::string& root);

    bool mJson = false;

    std::ostream& mOut;
    std::ostream& mErr;
};
