#pragma once
// Queries of one kernel link over a route netlink socket.
//
// Every query opens its own socket. The calling order is ConnectSocket,
// GetLink, optionally GetLinkState, then DeleteExternalNetlinkPointers with
// the socket and the link. When GetLink throws it has already released the
// socket, and the caller must not release anything. CNetlinkLinkHandle wraps
// this sequence so that no path can leak a socket or a link reference.

#include <cstdint>
#include <string>

struct nl_sock;
struct rtnl_link;

namespace Tarv {
// Operational link states as the kernel reports them (RFC 2863).
inline constexpr std::uint8_t kOperStateUnknown = 0;
inline constexpr std::uint8_t kOperStateNotPresent = 1;
inline constexpr std::uint8_t kOperStateDown = 2;
inline constexpr std::uint8_t kOperStateLowerLayerDown = 3;
inline constexpr std::uint8_t kOperStateTesting = 4;
inline constexpr std::uint8_t kOperStateDormant = 5;
inline constexpr std::uint8_t kOperStateUp = 6;
} // namespace Tarv

class ITarvNetlink {
public:
    virtual ~ITarvNetlink() = default;
    // A socket connected to route netlink; CTarvException when none can be connected.
    virtual nl_sock* ConnectSocket() = 0;
    // The link of that name holding one reference. CTarvException when it
    // cannot be found; the socket is then already closed and freed.
    virtual rtnl_link* GetLink(nl_sock* socket, const std::string& interfaceName) = 0;
    virtual std::uint8_t GetLinkState(rtnl_link* link) = 0;
    // Drops the link reference, closes and frees the socket (either may be null).
    virtual void DeleteExternalNetlinkPointers(nl_sock* socket, rtnl_link* link) = 0;
};
