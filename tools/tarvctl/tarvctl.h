#pragma once
// Command-line client of the network manager: drives its lifecycle, shows
// its state and notifications and reads or sets its log level, through the
// same IPC configuration file the daemon reads; reads, writes and lists its
// configuration files; collects a report, also while it is stopped.
//
// The verbs, options and exit codes are listed once, in tarvctlcommands.def,
// which is also the source of the manual page and the bash completion.

#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/ilogconfig.h"
#include "proto/messages.pb.h"

#include <json/json.h>

#include <chrono>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CTarvCtlDeadline;

class CTarvCtl {
public:
    enum EExit : int { kOk = 0, kFailure = 1, kUsage = 2, kRefused = 3, kNotRunning = 8 };

    // deadline (may be null) is armed around every exchange with the daemon.
    CTarvCtl(std::ostream& out, std::ostream& err, std::istream& in, CTarvCtlDeadline* deadline = nullptr)
        : mOut(out), mErr(err), mIn(in), mDeadline(deadline)
    {
    }
    // Runs one command line (without the program name); returns the exit code.
    int Run(const std::vector<std::string>& arguments);

    static constexpr std::chrono::seconds kDefaultTimeout{30};
    // How often watch checks that its root still exists.
    static constexpr std::chrono::seconds kRootCheckPeriod{1};

private:
    using Host = AppCommunicationHost<GrpcBackend>;
    struct SVerb {
        const char* name;
        int (CTarvCtl::*run)();
        const char* arguments;
        std::size_t fewest;
        std::size_t most;
        const char* text;
    };
    static const std::vector<SVerb>& Verbs();

    // Reads the options before the verb; returns the index of the verb, or
    // sets exitCode when the run ends here (help, version, a bad option).
    std::size_t ParseOptions(const std::vector<std::string>& arguments, int& exitCode);
    int Help(std::ostream& stream, int exitCode);
    int Help() { return Help(mOut, kOk); }
    // One line on standard error; returns code.
    int Fail(int code, const std::string& message);

    // Throws a not-running error (exit 8) at once when nothing listens on
    // the service's socket, instead of waiting for the IPC library's deadline.
    void RequireDaemon(const std::string& service) const;
    Host& Daemon();
    void Print(const std::string& text, const Json::Value& json);

    int Enable();
    int Disable();
    int Lifecycle(bool enable);
    int State();
    int Watch();
    int LogLevel();
    int Scan();
    int Validate();
    int Notify();
    int Status();
    int Config();
    int ConfigList();
    int Report();

    // The statuses of the interfaces (bounded in time: interfaces without
    // hardware send nothing).
    std::map<int, ipc::MNetStatus> CollectStatuses(const std::vector<ipc::EIfName>& interfaces, bool& accepted);
    void PrintStatuses(const std::map<int, ipc::MNetStatus>& statuses);
    // The interfaces the station's hwinfo says it has (all when unreadable).
    std::vector<ipc::EIfName> PresentInterfaces() const;

    std::string mRoot = "/";
    bool mJson = false;
    bool mShowSecrets = false;
    std::chrono::seconds mTimeout = kDefaultTimeout;
    std::vector<std::string> mArguments; // the verb's own arguments
    std::shared_ptr<Host> mHost;         // created by the first exchange with the daemon

    std::ostream& mOut;
    std::ostream& mErr;
    std::istream& mIn;
    CTarvCtlDeadline* mDeadline;
};
