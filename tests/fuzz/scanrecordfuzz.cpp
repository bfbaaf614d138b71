// libFuzzer target for what a WLAN scan reports about one BSS
// (scripts/fuzz.sh): the bytes are read as a BSS's netlink attributes and,
// on their own, as information elements. A network name never exceeds 32
// bytes.

#include "platform/wifiscan/scanrecordparser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    const ITarvWifiScan::SScanRecord record = ScanRecordParser::RecordOf(bytes);
    const std::optional<std::string> ssid = ScanRecordParser::SsidOf(bytes);
    if (record.ssid.size() > 32 || (ssid && ssid->size() > 32)) {
        std::abort();
    }
    return 0;
}
