#include "src/components/ltemodem/modemcommands.h"

namespace Modem::Commands {

bool IsFifteenDigits(std::string_view line)
{
    return line.size() == 15 && line.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsModemFirmware(std::string_view line)
{
    return line.starts_with("BG95M3");
}

} // namespace Modem::Commands
