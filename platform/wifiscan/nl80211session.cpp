#include "platform/wifiscan/nl80211session.h"

#include "platform/log/log.h"

#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <poll.h>

#include <cerrno>

namespace {

// What one request's callbacks share.
struct SExchange {
    const CNl80211Session::MessageFn* onMessage = nullptr;
    int scanInterface = 0; // for scan notifications: the interface waited for
    bool done = false;
    int error = 0;
    bool scanEnded = false;
};

int ParseAttributes(nl_msg* message, nlattr** attributes, int& command)
{
    auto* header = static_cast<genlmsghdr*>(nlmsg_data(nlmsg_hdr(message)));
    command = header->cmd;
    return nla_parse(attributes, NL80211_ATTR_MAX, genlmsg_attrdata(header, 0), genlmsg_attrlen(header, 0), nullptr);
}

int OnValid(nl_msg* message, void* argument)
{
    auto* exchange = static_cast<SExchange*>(argument);
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    int command = 0;
    if (ParseAttributes(message, attributes, command) == 0 && exchange->onMessage != nullptr) {
        (*exchange->onMessage)(command, attributes);
    }
    return NL_OK;
}

int OnScanEvent(nl_msg* message, void* argument)
{
    auto* exchange = static_cast<SExchange*>(argument);
    nlattr* attributes[NL80211_ATTR_MAX + 1] = {};
    int command = 0;
    if (ParseAttributes(message, attributes, command) != 0 || attributes[NL80211_ATTR_IFINDEX] == nullptr ||
        static_cast<int>(nla_get_u32(attributes[NL80211_ATTR_IFINDEX])) != exchange->scanInterface) {
        return NL_SKIP;
    }
    if (command == NL80211_CMD_NEW_SCAN_RESULTS || command == NL80211_CMD_SCAN_ABORTED) {
        exchange->scanEnded = command == NL80211_CMD_NEW_SCAN_RESULTS;
        exchange->done = true;
    }
    return NL_SKIP;
}

int OnFinish(nl_msg*, void* argument)
{
    static_cast<SExchange*>(argument)->done = true;
    return NL_SKIP;
}

int OnAck(nl_msg*, void* argument)
{
    static_cast<SExchange*>(argument)->done = true;
    return NL_STOP;
}

int OnError(sockaddr_nl*, nlmsgerr* error, void* argument)
{
    auto* exchange = static_cast<SExchange*>(argument);
    exchange->error = error->error < 0 ? error->error : -EIO;
    exchange->done = true;
    return NL_STOP;
}

struct SCallbacksDeleter {
    void operator()(nl_cb* callbacks) const { nl_cb_put(callbacks); }
};
struct SMessageDeleter {
    void operator()(nl_msg* message) const { nlmsg_free(message); }
};

} // namespace

void CNl80211Session::SSocketDeleter::operator()(nl_sock* socket) const
{
    nl_socket_free(socket);
}

CNl80211Session::CNl80211Session(SKey, SocketPtr socket, int family, unsigned interfaceIndex)
    : mSocket(std::move(socket)), mFamily(family), mInterfaceIndex(interfaceIndex)
{
}

CNl80211Session::~CNl80211Session() = default;

CNl80211Session::SocketPtr CNl80211Session::Connect()
{
    SocketPtr socket(nl_socket_alloc());
    if (!socket || genl_connect(socket.get()) != 0 || nl_socket_set_nonblocking(socket.get()) != 0) {
        return nullptr;
    }
    return socket;
}

std::unique_ptr<CNl80211Session> CNl80211Session::Open(const std::string& interfaceName)
{
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        TLOG_DEBUG("No interface {} to query over nl80211", interfaceName);
        return nullptr;
    }
    SocketPtr socket = Connect();
    if (!socket) {
        TLOG_DEBUG("Cannot open a generic netlink socket");
        return nullptr;
    }
    const int family = genl_ctrl_resolve(socket.get(), NL80211_GENL_NAME);
    if (family < 0) {
        TLOG_DEBUG("nl80211 is not available: {}", nl_geterror(family));
        return nullptr;
    }
    return std::make_unique<CNl80211Session>(SKey{}, std::move(socket), family, index);
}

int CNl80211Session::Receive(nl_sock* socket, nl_cb* callbacks, const bool& done,
                             std::chrono::steady_clock::time_point deadline)
{
    pollfd descriptor{nl_socket_get_fd(socket), POLLIN, 0};
    while (!done) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return -ETIMEDOUT;
        }
        const int ready = poll(&descriptor, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            return -errno;
        }
        if (ready > 0) {
            const int received = nl_recvmsgs(socket, callbacks);
            if (received < 0 && received != -NLE_AGAIN) {
                return received;
            }
        }
    }
    return 0;
}

int CNl80211Session::Request(int command, bool dump, const std::function<void(nl_msg*)>& addAttributes,
                             const MessageFn& onMessage, std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    std::unique_ptr<nl_msg, SMessageDeleter> message(nlmsg_alloc());
    std::unique_ptr<nl_cb, SCallbacksDeleter> callbacks(nl_cb_alloc(NL_CB_DEFAULT));
    if (!message || !callbacks) {
        return -ENOMEM;
    }
    if (genlmsg_put(message.get(), NL_AUTO_PORT, NL_AUTO_SEQ, mFamily, 0, dump ? NLM_F_DUMP : 0,
                    static_cast<std::uint8_t>(command), 0) == nullptr ||
        nla_put_u32(message.get(), NL80211_ATTR_IFINDEX, mInterfaceIndex) != 0) {
        return -ENOBUFS;
    }
    if (addAttributes) {
        addAttributes(message.get());
    }
    SExchange exchange;
    exchange.onMessage = &onMessage;
    nl_cb_set(callbacks.get(), NL_CB_VALID, NL_CB_CUSTOM, OnValid, &exchange);
    nl_cb_set(callbacks.get(), NL_CB_FINISH, NL_CB_CUSTOM, OnFinish, &exchange);
    nl_cb_set(callbacks.get(), NL_CB_ACK, NL_CB_CUSTOM, OnAck, &exchange);
    nl_cb_err(callbacks.get(), NL_CB_CUSTOM, OnError, &exchange);
    const int sent = nl_send_auto(mSocket.get(), message.get());
    if (sent < 0) {
        return sent;
    }
    const int received = Receive(mSocket.get(), callbacks.get(), exchange.done, until);
    return received < 0 ? received : exchange.error;
}

bool CNl80211Session::WaitForScan(const std::function<bool()>& start, std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    SocketPtr events = Connect();
    const int group = events ? genl_ctrl_resolve_grp(events.get(), NL80211_GENL_NAME, NL80211_MULTICAST_GROUP_SCAN)
                             : -NLE_NOMEM;
    std::unique_ptr<nl_cb, SCallbacksDeleter> callbacks(nl_cb_alloc(NL_CB_DEFAULT));
    if (group < 0 || !callbacks || nl_socket_add_membership(events.get(), group) != 0) {
        TLOG_DEBUG("Cannot listen for nl80211 scan notifications");
        return false;
    }
    // Notifications carry no sequence number of ours.
    nl_socket_disable_seq_check(events.get());
    SExchange exchange;
    exchange.scanInterface = static_cast<int>(mInterfaceIndex);
    nl_cb_set(callbacks.get(), NL_CB_VALID, NL_CB_CUSTOM, OnScanEvent, &exchange);
    if (!start()) {
        return false;
    }
    if (Receive(events.get(), callbacks.get(), exchange.done, until) != 0) {
        TLOG_DEBUG("No end of the scan within {} ms", deadline.count());
        return false;
    }
    return exchange.scanEnded;
}
