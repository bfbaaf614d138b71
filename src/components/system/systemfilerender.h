#pragma once
// The text of the system files the daemon owns, made from plain values.
// Nothing here checks a value or touches a file: callers validate what goes
// in (the interfaces file is partly executed by ifup as root) and write the
// result with WriteToFile, which replaces the file atomically.

#include <optional>
#include <string>
#include <vector>

// An IPv4 interface, by DHCP or static. Static fields are unused for DHCP;
// an empty gateway writes no gateway (and no metric).
struct SIpv4Stanza {
    bool dhcp = true;
    std::string hostname;
    std::string address;
    std::string netmask;
    std::string gateway;
};

// A static IPv6 interface: its address and prefix length.
struct SIpv6Stanza {
    std::string address;
    std::string prefixLength;
};

// The configurable interfaces; an absent one is left out. Loopback and the
// commissioning access point are always there.
struct SInterfacesFile {
    std::optional<SIpv4Stanza> eth0;
    bool lte0 = false; // by DHCP when present
    std::optional<SIpv6Stanza> plc0;
    std::optional<SIpv4Stanza> wlan0;
};

// /etc/network/interfaces: the stanzas of lo, eth0, lte0, plc0, wlan0 and
// uap0 in this order, separated by blank lines (an absent interface leaves
// its blank line), ending in a line break.
std::string RenderInterfacesFile(const SInterfacesFile& file);

// A resolver file: one "nameserver <address>" line per server, in order;
// empty servers are left out.
std::string RenderResolverFile(const std::vector<std::string>& servers);

// hosts with every name equal to from renamed to to, and every longer name
// whose first label is from ("from.lan") given to as its first label.
// Addresses, comments, spacing and other names stay as they are; an empty
// from changes nothing.
std::string RenderHosts(const std::string& hosts, const std::string& from, const std::string& to);
