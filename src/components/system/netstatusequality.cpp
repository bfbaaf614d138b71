#include "src/components/system/netstatusequality.h"

namespace ipc {

// Sub-message accessors return the default instance when a field is not set,
// so an unset sub-message equals an empty one.
bool operator==(const MNetStatus& a, const MNetStatus& b)
{
    return a.connectionstate() == b.connectionstate() && a.properties() == b.properties() && a.dns() == b.dns() &&
           a.lteinfo() == b.lteinfo();
}

bool operator==(const MNetStatus_MNetProperties& a, const MNetStatus_MNetProperties& b)
{
    return a.ipaddress() == b.ipaddress() && a.subnetmask() == b.subnetmask() &&
           a.defaultgateway() == b.defaultgateway();
}

bool operator==(const MNetStatus_MNetDns& a, const MNetStatus_MNetDns& b)
{
    return a.primarydns() == b.primarydns() && a.secondarydns() == b.secondarydns();
}

bool operator==(const MNetStatus_MLteInfo& a, const MNetStatus_MLteInfo& b)
{
    return a.carrier() == b.carrier() && a.technology() == b.technology() && a.iccid() == b.iccid() &&
           a.imsi() == b.imsi() && a.imei() == b.imei();
}

} // namespace ipc
