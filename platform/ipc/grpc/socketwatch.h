#pragma once
// Tells when a peer's socket file appears, so that the channel to the peer
// reconnects at once instead of after its (long) reconnect back-off. The
// notification thread waits on Fd() and calls Appeared when it is readable.

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace IpcGrpc {

class CSocketWatch {
public:
    CSocketWatch();
    ~CSocketWatch();
    CSocketWatch(const CSocketWatch&) = delete;
    CSocketWatch& operator=(const CSocketWatch&) = delete;

    // Watches the directory of the socket path. A directory that does not
    // exist yet is watched once it does (checked on every Appeared and
    // WatchPending); until then the back-off alone brings the peer back.
    void Watch(const std::string& socketPath);
    void WatchPending();
    // The descriptor to wait on; -1 when the system gives no watch.
    int Fd() const { return mFd; }
    // Reads the pending events: the watched socket paths created or moved into place.
    std::vector<std::string> Appeared();

private:
    int mFd = -1;
    std::mutex mMutex;                          // guards the fields below
    std::set<std::string> mSockets;             // the watched socket paths
    std::set<std::string> mPending;             // directories not watched yet
    std::map<int, std::string> mDirectories;    // watch descriptor -> directory
};

} // namespace IpcGrpc
