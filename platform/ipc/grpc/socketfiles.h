#pragma once
// The socket files the IPC host serves on and their directories.

#include <sys/types.h>

#include <optional>
#include <string>

namespace IpcGrpc {

// Creates the missing directories of the socket path with mode 0750 and the
// given group (default: the process's). An existing socket directory that
// group or others may write to, without the sticky bit, is set the same way.
void PrepareSocketDirectory(const std::string& socketPath, std::optional<gid_t> group);

// Removes a socket file left behind by an earlier run. Only a socket nobody
// listens on (the connection is refused) is stale; throws std::runtime_error
// for a socket another process serves or one whose state cannot be told
// (no permission to connect, say), and for anything that is not a socket.
void RemoveStaleSocket(const std::string& socketPath);

// A socket bound where only this process can reach it until it is published
// with its final mode and group: gRPC binds it inside a fresh 0700 directory
// beside the final path, and Publish renames it into place. So the socket
// never carries the process umask's wider mode, and nothing changes the
// process-wide umask under the other threads. When the staging path would be
// too long for a socket address, the socket is bound in place; the 0750
// socket directory then keeps strangers out until Publish sets the mode.
class CStagedSocket {
public:
    CStagedSocket(std::string finalPath, std::optional<gid_t> group);
    ~CStagedSocket();
    CStagedSocket(const CStagedSocket&) = delete;
    CStagedSocket& operator=(const CStagedSocket&) = delete;

    // Where the server binds.
    const std::string& BindPath() const { return mBindPath; }
    // Sets mode 0660 and the group and moves the socket to its final path;
    // throws std::runtime_error when that fails or the final path was taken
    // in the meantime.
    void Publish();

private:
    std::string mFinalPath;
    std::optional<gid_t> mGroup;
    std::string mDirectory; // the staging directory; empty when bound in place
    std::string mBindPath;
    bool mPublished = false;
};

} // namespace IpcGrpc
