#include "src/components/handlers/routetable.h"

#include <stdexcept>
#include <vector>

std::optional<std::string> CRouteTable::GatewayColumn(std::string_view routeTable, std::string_view interfaceName)
{
    std::size_t lineStart = 0;
    while (lineStart < routeTable.size()) {
        std::size_t lineEnd = routeTable.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = routeTable.size();
        }
        std::vector<std::string_view> fields;
        std::size_t at = lineStart;
        while (at < lineEnd && fields.size() < 4) {
            at = routeTable.find_first_not_of(" \t", at);
            if (at == std::string_view::npos || at >= lineEnd) {
                break;
            }
            std::size_t end = routeTable.find_first_of(" \t", at);
            end = end == std::string_view::npos || end > lineEnd ? lineEnd : end;
            fields.push_back(routeTable.substr(at, end - at));
            at = end;
        }
        if (fields.size() == 4 && fields[0] == interfaceName && fields[1] == "00000000" && fields[3] == "0003") {
            return std::string(fields[2]);
        }
        lineStart = lineEnd + 1;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> CRouteTable::Address(const std::string& column)
{
    // stoull would wrap a negative number.
    const auto first = column.find_first_not_of(" \t\n\v\f\r");
    if (first == std::string::npos || column[first] == '-') {
        return std::nullopt;
    }
    unsigned long long value = 0;
    try {
        value = std::stoull(column, nullptr, 16);
    } catch (const std::logic_error&) {
        return std::nullopt;
    }
    if (value > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}
