#pragma once
// Owning pointers for libnl objects: a socket is closed and freed, a cache
// freed and a link reference dropped when the pointer goes out of scope.

#include <netlink/cache.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>

#include <memory>

namespace Tarv {

struct SNlSocketDeleter {
    void operator()(nl_sock* socket) const noexcept
    {
        nl_close(socket);
        nl_socket_free(socket);
    }
};

struct SNlCacheDeleter {
    void operator()(nl_cache* cache) const noexcept { nl_cache_free(cache); }
};

struct SRtnlLinkDeleter {
    void operator()(rtnl_link* link) const noexcept { rtnl_link_put(link); }
};

using NlSocketPtr = std::unique_ptr<nl_sock, SNlSocketDeleter>;
using NlCachePtr = std::unique_ptr<nl_cache, SNlCacheDeleter>;
using RtnlLinkPtr = std::unique_ptr<rtnl_link, SRtnlLinkDeleter>;

} // namespace Tarv
