#include "src/components/links/tarvnetlink.h"

#include "platform/log/log.h"
#include "src/components/links/netlinkptr.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/tarvexception.h"

#include <linux/netlink.h>
#include <sys/socket.h>

#include <cstring>

using Tarv::NlCachePtr;
using Tarv::NlSocketPtr;
using Tarv::RtnlLinkPtr;

nl_sock* CTarvNetlink::ConnectSocket()
{
    TLOG_FUNCTION();
    NlSocketPtr socket(nl_socket_alloc());
    if (socket) {
        // A second attempt at once covers a transient failure (for example a
        // netlink port clash).
        if (nl_connect(socket.get(), NETLINK_ROUTE) == 0 || nl_connect(socket.get(), NETLINK_ROUTE) == 0) {
            return socket.release();
        }
    }
    TLOG_ERROR("Could not connect socket");
    throw CTarvException();
}

rtnl_link* CTarvNetlink::GetLink(nl_sock* rawSocket, const std::string& interfaceName)
{
    TLOG_FUNCTION();
    // Owned here until the link is handed out: every failure below closes
    // and frees the socket, as the callers expect.
    NlSocketPtr socket(rawSocket);

    nl_cache* rawCache = nullptr;
    if (rtnl_link_alloc_cache(socket.get(), AF_UNSPEC, &rawCache) < 0 &&
        rtnl_link_alloc_cache(socket.get(), AF_UNSPEC, &rawCache) < 0) {
        TLOG_ERROR("Links error or no links were found");
        throw CTarvException();
    }
    const NlCachePtr cache(rawCache);

    // The cache is one snapshot of the kernel's links, so looking the name up
    // a second time in it could not give another answer.
    const int index = rtnl_link_name2i(cache.get(), interfaceName.c_str());
    if (index == 0) {
        // The modem's link exists only while the modem is on: its absence is normal.
        if (interfaceName != Tarv::kLte0) {
            TLOG_ERROR("{} Link not found", interfaceName);
        }
        throw CTarvException();
    }

    // rtnl_link_get adds the reference that the caller drops later; the link
    // outlives the cache.
    RtnlLinkPtr link(rtnl_link_get(cache.get(), index));
    const char* name = link ? rtnl_link_get_name(link.get()) : nullptr;
    if (name == nullptr || interfaceName != name) {
        TLOG_WARN("Netlink returned wrong link");
        throw CTarvException();
    }

    socket.release();
    return link.release();
}

std::uint8_t CTarvNetlink::GetLinkState(rtnl_link* link)
{
    TLOG_FUNCTION();
    return rtnl_link_get_operstate(link);
}

void CTarvNetlink::DeleteExternalNetlinkPointers(nl_sock* socket, rtnl_link* link)
{
    TLOG_FUNCTION();
    const RtnlLinkPtr linkOwner(link);
    const NlSocketPtr socketOwner(socket);
}
