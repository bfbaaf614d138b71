#pragma once
// The socket files the IPC host serves on and their directories.

#include <string>

namespace IpcGrpc {

// Whether a process accepts connections on the socket file.
bool SocketIsServed(const std::string& path);

// Creates the missing directories of the socket path with mode 0750.
void PrepareSocketDirectory(const std::string& socketPath);

// Removes a socket file left behind by an earlier run; refuses (throws
// std::runtime_error) to touch a socket that another process still serves,
// or anything that is not a socket.
void RemoveStaleSocket(const std::string& socketPath);

} // namespace IpcGrpc
