// libFuzzer target for the IPv4 route table as the kernel shows it
// (scripts/fuzz.sh): the gateway column of eth0's default route is one
// column (no blank, tab or line end), read as an address.

#include "src/components/handlers/routetable.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view table(reinterpret_cast<const char*>(data), size);
    if (const auto column = CRouteTable::GatewayColumn(table, "eth0")) {
        if (column->empty() || column->find_first_of(" \t\n") != std::string::npos) {
            std::abort();
        }
        CRouteTable::Address(*column);
    }
    return 0;
}
