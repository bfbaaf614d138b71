#pragma once
// The IPC configuration file: a JSON object that maps each service or client
// name to the Unix socket it is served on, for example
//   { "TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock", ... }
// Socket paths are absolute paths resolved under the root directory. Other
// transports (TCP in particular) are refused. The optional member
//   "socketGroup": "charging"
// names the group that owns the sockets and the socket directories the host
// creates (default: the process's group); a group the system does not know
// is an error.

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

namespace Json {
class Value;
}

struct SIpcEndpoint {
    std::string name;       // service or client name
    std::string socketPath; // resolved under the root directory
    std::string address;    // "unix:" followed by socketPath, as gRPC takes it
};

class CIpcConfiguration {
public:
    // Reads and checks the whole file; throws std::runtime_error naming the
    // file and the problem when it is missing or malformed.
    explicit CIpcConfiguration(const std::string& path);

    const std::string& GetPath() const { return mPath; }
    // Throws std::runtime_error naming the file when the name has no entry.
    const SIpcEndpoint& GetEndpoint(const std::string& name) const;
    // The group of "socketGroup", resolved when the file is read.
    std::optional<gid_t> GetSocketGroup() const { return mSocketGroup; }

private:
    [[noreturn]] void Fail(const std::string& problem) const;
    std::string ReadText() const;
    void ReadEntries(const Json::Value& root);

    std::string mPath;
    std::map<std::string, SIpcEndpoint> mEndpoints;
    std::optional<gid_t> mSocketGroup;
};
