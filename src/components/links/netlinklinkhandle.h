#pragma once
// One link looked up through ITarvNetlink for the lifetime of a scope: the
// constructor connects a socket and takes the link, the destructor hands both
// back through DeleteExternalNetlinkPointers, whatever way the scope is left.

#include "src/components/links/itarvnetlink.h"

#include <cstdint>
#include <string>

class CNetlinkLinkHandle {
public:
    // Throws what ConnectSocket and GetLink throw (CTarvException); nothing is
    // left to release in that case.
    CNetlinkLinkHandle(ITarvNetlink& netlink, const std::string& interfaceName);
    ~CNetlinkLinkHandle();
    CNetlinkLinkHandle(const CNetlinkLinkHandle&) = delete;
    CNetlinkLinkHandle& operator=(const CNetlinkLinkHandle&) = delete;

    rtnl_link* Link() const { return mLink; }
    std::uint8_t State() const { return mNetlink.GetLinkState(mLink); }

private:
    ITarvNetlink& mNetlink;
    nl_sock* mSocket;
    rtnl_link* mLink;
};
