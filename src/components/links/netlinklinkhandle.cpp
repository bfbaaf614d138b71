#include "src/components/links/netlinklinkhandle.h"

#include "platform/log/log.h"

#include <exception>

CNetlinkLinkHandle::CNetlinkLinkHandle(ITarvNetlink& netlink, const std::string& interfaceName)
    : mNetlink(netlink), mSocket(netlink.ConnectSocket()), mLink(nullptr)
{
    // GetLink releases the socket itself when it throws.
    mLink = mNetlink.GetLink(mSocket, interfaceName);
}

CNetlinkLinkHandle::~CNetlinkLinkHandle()
{
    try {
        mNetlink.DeleteExternalNetlinkPointers(mSocket, mLink);
    } catch (const std::exception& e) {
        TLOG_ERROR("Could not release netlink objects: {}", e.what());
    }
}
