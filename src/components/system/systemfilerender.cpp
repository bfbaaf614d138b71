#include "src/components/system/systemfilerender.h"

#include "src/components/system/interfacenames.h"

#include <algorithm>
#include <string_view>

namespace {

// A static gateway's route metric.
const std::string kGatewayMetric = "10";

std::string StanzaStart(const std::string& interfaceName)
{
    return "auto " + interfaceName + "\niface " + interfaceName;
}

std::string Ipv4Stanza(const std::string& interfaceName, const std::optional<SIpv4Stanza>& stanza)
{
    if (!stanza) {
        return {};
    }
    if (stanza->dhcp) {
        return StanzaStart(interfaceName) + " inet dhcp\nhostname " + stanza->hostname;
    }
    std::string text = StanzaStart(interfaceName) + " inet static\nhostname " + stanza->hostname + "\naddress " +
                       stanza->address + "\nnetmask " + stanza->netmask;
    if (!stanza->gateway.empty()) {
        text += "\ngateway " + stanza->gateway + "\nmetric " + kGatewayMetric;
    }
    return text;
}

std::string Ipv6Stanza(const std::string& interfaceName, const std::optional<SIpv6Stanza>& stanza)
{
    if (!stanza) {
        return {};
    }
    // The address is the one the kernel would give the link itself (EUI-64
    // of the MAC address): with the kernel's own in place, adding it would
    // fail and take ifup with it. The kernel makes none for this link, and
    // one made before (the link was up already) goes.
    return StanzaStart(interfaceName) + " inet6 static\naddress " + stanza->address + "\nnetmask " +
           stanza->prefixLength + "\npre-up echo 1 > /proc/sys/net/ipv6/conf/" + interfaceName +
           "/addr_gen_mode || true" + "\npre-up ip -6 addr flush dev " + interfaceName + " scope link";
}

// How much of the start of field is the name from: all of from when field
// is from or a longer name whose first label is from; 0 otherwise.
std::size_t RenamedLength(std::string_view field, std::string_view from)
{
    if (field.substr(0, from.size()) != from) {
        return 0;
    }
    return field.size() == from.size() || field[from.size()] == '.' ? from.size() : 0;
}

} // namespace

std::string RenderInterfacesFile(const SInterfacesFile& file)
{
    const std::string loopback = "auto lo\niface lo inet loopback";
    const std::string accessPoint =
        StanzaStart(Tarv::kUap0) + " inet static\naddress 172.16.0.1\nnetmask 255.255.255.0";
    const std::string lte = file.lte0 ? StanzaStart(Tarv::kLte0) + " inet dhcp" : "";
    return loopback + "\n\n" + Ipv4Stanza(Tarv::kEth0, file.eth0) + "\n\n" + lte + "\n\n" +
           Ipv6Stanza(Tarv::kPlc0, file.plc0) + "\n\n" + Ipv4Stanza(Tarv::kWlan0, file.wlan0) + "\n\n" +
           accessPoint + "\n";
}

std::string RenderResolverFile(const std::vector<std::string>& servers)
{
    // An empty entry (an unset alternative server, say) would give a bare
    // "nameserver" line that resolvers reject.
    std::string text;
    for (const auto& server : servers) {
        if (!server.empty()) {
            text += "nameserver " + server + "\n";
        }
    }
    return text;
}

std::string RenderHosts(const std::string& hosts, const std::string& from, const std::string& to)
{
    // Each line: an address, then names; '#' starts a comment. Only whole
    // names (or the first label of a longer name) change, so renaming
    // "host" leaves "localhost" alone. An empty name names nothing.
    if (from.empty()) {
        return hosts;
    }
    std::string renamed;
    renamed.reserve(hosts.size());
    std::size_t lineStart = 0;
    while (lineStart < hosts.size()) {
        std::size_t lineEnd = hosts.find('\n', lineStart);
        lineEnd = lineEnd == std::string::npos ? hosts.size() : lineEnd + 1;
        const std::string_view line(hosts.data() + lineStart, lineEnd - lineStart);
        const std::size_t comment = std::min(line.find('#'), line.size());
        std::size_t at = 0;
        bool address = true;
        while (at < comment) {
            const std::size_t fieldStart = line.find_first_not_of(" \t\r\n", at);
            if (fieldStart >= comment) {
                break;
            }
            renamed.append(line.substr(at, fieldStart - at));
            std::size_t fieldEnd = std::min(line.find_first_of(" \t\r\n", fieldStart), comment);
            const std::string_view field = line.substr(fieldStart, fieldEnd - fieldStart);
            const auto replaced = address ? 0 : RenamedLength(field, from);
            if (replaced > 0) {
                renamed.append(to);
                renamed.append(field.substr(replaced));
            } else {
                renamed.append(field);
            }
            address = false;
            at = fieldEnd;
        }
        renamed.append(line.substr(at));
        lineStart = lineEnd;
    }
    return renamed;
}
