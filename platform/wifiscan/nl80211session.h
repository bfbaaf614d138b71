#pragma once
// One generic netlink socket talking nl80211 about one interface: sends a
// request and hands each answer message to a callback until the kernel says
// the request is done, an error comes back or the deadline passes.

#include "platform/wifiscan/itarvwifiscan.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

struct nl_msg;
struct nl_sock;
struct nlattr;

class CNl80211Session : public ITarvWifiScan::CHandle {
public:
    // Attributes of one answer message, indexed by nl80211 attribute number.
    using Attributes = nlattr* const*;
    using MessageFn = std::function<void(int command, Attributes attributes)>;

    // nullptr (logged at debug level) when the interface or nl80211 is missing.
    static std::unique_ptr<CNl80211Session> Open(const std::string& interfaceName);

private:
    struct SSocketDeleter {
        void operator()(nl_sock* socket) const;
    };
    using SocketPtr = std::unique_ptr<nl_sock, SSocketDeleter>;
    // Only Open can make one.
    struct SKey {
        explicit SKey() = default;
    };

public:
    CNl80211Session(SKey, SocketPtr socket, int family, unsigned interfaceIndex);
    ~CNl80211Session() override;
    CNl80211Session(const CNl80211Session&) = delete;
    CNl80211Session& operator=(const CNl80211Session&) = delete;

    // Sends the command for the interface (a dump when dump is set); addAttributes
    // may add attributes. 0 when done, a negative errno or libnl error otherwise
    // (-ETIMEDOUT when the deadline passed).
    int Request(int command, bool dump, const std::function<void(nl_msg*)>& addAttributes, const MessageFn& onMessage,
                std::chrono::milliseconds deadline);
    // Joins the nl80211 "scan" multicast group on a second socket and returns
    // once a scan of this interface ended (true) or was aborted or the deadline
    // passed (false). start runs after joining, so no notification is missed.
    bool WaitForScan(const std::function<bool()>& start, std::chrono::milliseconds deadline);

    unsigned InterfaceIndex() const { return mInterfaceIndex; }

private:
    static SocketPtr Connect();
    // Receives on the socket until done is set or the deadline passes.
    static int Receive(nl_sock* socket, struct nl_cb* callbacks, const bool& done,
                       std::chrono::steady_clock::time_point deadline);

    // Set once at construction.
    SocketPtr mSocket;
    const int mFamily;
    const unsigned mInterfaceIndex;
};
