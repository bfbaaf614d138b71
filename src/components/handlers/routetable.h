#pragma once
// Reading the kernel's IPv4 route table as /proc/net/route shows it: one
// line per route, blank- or tab-separated columns (interface, destination,
// gateway, flags, ...), addresses as hexadecimal numbers in host byte order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CRouteTable {
public:
    CRouteTable() = delete;

    // The gateway column of the interface's first default route with the
    // flags "up" and "gateway" (destination 00000000, flags 0003); nothing
    // when there is none. Columns are compared as text.
    static std::optional<std::string> GatewayColumn(std::string_view routeTable, std::string_view interfaceName);

    // The address of a column ("0101A8C0" -> 192.168.1.1 as 0x0101A8C0):
    // parsing stops at the first character that is no hex digit; nothing
    // for text that is not a number or is more than 32 bits, or a negative
    // number.
    static std::optional<std::uint32_t> Address(const std::string& column);
};
