#include "src/components/ltemodem/modemvalidation.h"

#include <array>
#include <stdexcept>
#include <utility>

namespace {

template <std::size_t N>
using CodeTable = std::array<std::pair<std::string_view, std::string_view>, N>;

constexpr CodeTable<5> kAuthCodes {{{"", "0"}, {"None", "0"}, {"PAP", "1"}, {"CHAP", "2"}, {"PAP or CHAP", "3"}}};
constexpr CodeTable<4> kIpTypeCodes {{{"", "3"}, {"IPv4", "1"}, {"IPv6", "2"}, {"IPv4v6", "3"}}};

template <std::size_t N>
std::optional<std::string> LookUp(const CodeTable<N>& table, std::string_view text)
{
    for (const auto& [name, code] : table) {
        if (name == text) {
            return std::string(code);
        }
    }
    return std::nullopt;
}

} // namespace

bool CModemValidation::IsSimPin(std::string_view text)
{
    return text.size() >= 4 && text.size() <= 8 && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool CModemValidation::IsQuotableText(std::string_view text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || byte < 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> CModemValidation::AuthCode(std::string_view text)
{
    return LookUp(kAuthCodes, text);
}

std::optional<std::string> CModemValidation::IpTypeCode(std::string_view text)
{
    return LookUp(kIpTypeCodes, text);
}

CModemValidation::EConversion CModemValidation::ToInt32(const std::string& text, std::int32_t& value,
                                                        std::string& error)
{
    try {
        value = std::stoi(text);
        return EConversion::Ok;
    } catch (const std::out_of_range& e) {
        error = e.what();
        return EConversion::OutOfRange;
    } catch (const std::invalid_argument& e) {
        error = e.what();
        return EConversion::NoNumber;
    }
}
