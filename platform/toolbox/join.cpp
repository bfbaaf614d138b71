#include "platform/toolbox/join.h"

std::string Join(const std::vector<std::string>& parts, std::string_view separator, std::string_view prefix)
{
    std::string text;
    for (const auto& part : parts) {
        if (!text.empty()) {
            text += separator;
        }
        text += prefix;
        text += part;
    }
    return text;
}
