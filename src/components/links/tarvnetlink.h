#pragma once
// Link queries over route netlink (libnl-route). Stateless: every query uses
// its own socket and link cache, so one instance serves any number of threads.

#include "src/components/links/itarvnetlink.h"

class CTarvNetlink : public ITarvNetlink {
public:
    nl_sock* ConnectSocket() override;
    rtnl_link* GetLink(nl_sock* socket, const std::string& interfaceName) override;
    std::uint8_t GetLinkState(rtnl_link* link) override;
    void DeleteExternalNetlinkPointers(nl_sock* socket, rtnl_link* link) override;
};
