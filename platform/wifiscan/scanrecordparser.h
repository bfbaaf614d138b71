#pragma once
// Decoding of what a scan reports about one BSS: its nested netlink
// attributes and the information elements of its frames. Both come from the
// air through the kernel, so every length is checked before it is used, and
// nothing here needs a netlink socket.

#include "platform/wifiscan/itarvwifiscan.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ScanRecordParser {

// The network name from information elements (id, length, body, ...): the
// bytes of the first SSID element up to a zero byte, at most 32; nullopt
// when there is none. Nothing after a truncated element is read.
std::optional<std::string> SsidOf(std::span<const std::uint8_t> elements);

// One BSS from the payload of a scan answer's BSS attribute. A value shorter
// than its type needs counts as absent; a malformed attribute header ends
// the list (what came before it is kept); of a repeated attribute the last
// one counts.
ITarvWifiScan::SScanRecord RecordOf(std::span<const std::uint8_t> bss);

} // namespace ScanRecordParser
