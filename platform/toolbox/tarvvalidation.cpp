#include "platform/toolbox/tarvvalidation.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

namespace {

constexpr std::size_t kMaxLabelLength = 63;
constexpr std::size_t kMacAddressLength = 17;
constexpr std::size_t kMaxSsidLength = 32;
constexpr std::size_t kRawKeyLength = 64;
constexpr std::size_t kMinSimPinLength = 4;
constexpr std::size_t kMaxSimPinLength = 8;
constexpr std::size_t kMaxHostnameLength = 253;
// Longest IPv6 text form ("ffff:...:255.255.255.255") plus its terminator.
constexpr std::size_t kIpv6TextBuffer = 46;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsAlnum(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A decimal number without leading zeros and at most maxValue.
std::optional<std::uint32_t> ParseDecimal(std::string_view text, std::uint32_t maxValue)
{
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value > maxValue) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint32_t> ParseIpv4(std::string_view text)
{
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.');
        const bool last = part == 3;
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const auto value = ParseDecimal(text.substr(0, dot), 255);
        if (!value) {
            return std::nullopt;
        }
        address = (address << 8) | *value;
        text = last ? std::string_view() : text.substr(dot + 1);
    }
    return address;
}

bool IsPrintableAscii(char c)
{
    return c >= 0x20 && c <= 0x7e;
}

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

bool CTarvValidation::IsIpv4Address(std::string_view text)
{
    return ParseIpv4(text).has_value();
}

bool CTarvValidation::IsIpv4HostAddress(std::string_view text)
{
    const auto address = ParseIpv4(text);
    return address && *address != 0 && *address != 0xffffffffu;
}

bool CTarvValidation::IsIpv4Netmask(std::string_view text)
{
    const auto mask = ParseIpv4(text);
    if (!mask || *mask == 0 || *mask == 0xffffffffu) {
        return false;
    }
    // Ones followed by zeros: the inverted mask plus one is a power of two.
    const std::uint32_t inverted = ~*mask;
    return (inverted & (inverted + 1)) == 0;
}

bool CTarvValidation::IsHexText(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), IsHexDigit);
}

bool CTarvValidation::IsIpv6Address(std::string_view text)
{
    if (text.empty() || text.size() >= kIpv6TextBuffer) {
        return false;
    }
    for (const char c : text) {
        if (!IsHexDigit(c) && c != ':' && c != '.') {
            return false;
        }
    }
    const std::string terminated(text);
    unsigned char address[16];
    return ::inet_pton(AF_INET6, terminated.c_str(), address) == 1;
}

bool CTarvValidation::IsIpv6PrefixLength(std::string_view text)
{
    return ParseDecimal(text, 128).has_value();
}

bool CTarvValidation::IsIpAddress(std::string_view text)
{
    return IsIpv4Address(text) || IsIpv6Address(text);
}

bool CTarvValidation::IsHostname(std::string_view text)
{
    if (text.empty() || text.size() > kMaxHostnameLength) {
        return false;
    }
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view label = text.substr(start, dot - start);
        if (label.empty() || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (const char c : label) {
            if (!IsAlnum(c) && c != '-' && c != '_') {
                return false;
            }
        }
        start = dot + 1;
    }
    return true;
}

bool CTarvValidation::IsDomainName(std::string_view text)
{
    if (!text.empty() && text.back() == '.') {
        text.remove_suffix(1); // the root label of a fully qualified name
    }
    if (text.empty() || text.size() > kMaxHostnameLength) {
        return false;
    }
    std::string_view label;
    while (true) {
        const std::size_t dot = text.find('.');
        label = text.substr(0, dot);
        if (label.empty() || label.size() > kMaxLabelLength || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (const char c : label) {
            if (!IsAlnum(c) && c != '-') {
                return false;
            }
        }
        if (dot == std::string_view::npos) {
            break;
        }
        text.remove_prefix(dot + 1);
    }
    for (const char c : label) {
        if (!IsDigit(c)) {
            return true;
        }
    }
    return false;
}

bool CTarvValidation::IsServerName(std::string_view text)
{
    return IsDomainName(text) || IsIpAddress(text);
}

bool CTarvValidation::IsMacAddress(std::string_view text)
{
    if (text.size() != kMacAddressLength) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' : !IsHexDigit(text[i])) {
            return false;
        }
    }
    return true;
}

bool CTarvValidation::IsWlanSsid(std::string_view text)
{
    return !text.empty() && text.size() <= kMaxSsidLength &&
           text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

bool CTarvValidation::IsWlanPassphrase(std::string_view text)
{
    return text.size() >= kMinWlanPassphraseLength && text.size() <= kMaxWlanPassphraseLength &&
           std::all_of(text.begin(), text.end(), IsPrintableAscii);
}

bool CTarvValidation::IsWlanRawKey(std::string_view text)
{
    return text.size() == kRawKeyLength && IsHexText(text);
}

bool CTarvValidation::IsWlanPassword(std::string_view text)
{
    return IsWlanPassphrase(text) || IsWlanRawKey(text);
}

bool CTarvValidation::IsSimPin(std::string_view text)
{
    return text.size() >= kMinSimPinLength && text.size() <= kMaxSimPinLength &&
           std::all_of(text.begin(), text.end(), IsDigit);
}

bool CTarvValidation::IsQuotableText(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '"' || byte < 0x20 || byte == 0x7f;
    });
}

std::optional<std::string> CTarvValidation::ModemAuthCode(std::string_view text)
{
    return LookUp(kAuthCodes, text);
}

std::optional<std::string> CTarvValidation::ModemIpTypeCode(std::string_view text)
{
    return LookUp(kIpTypeCodes, text);
}

CTarvValidation::EConversion CTarvValidation::ToInt32(const std::string& text, std::int32_t& value,
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

std::string CTarvValidation::Printable(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string printable;
    const std::string_view shown = text.substr(0, kMaxPrintable);
    printable.reserve(shown.size() + 24);
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7e || c == '\\') {
            printable += "\\x";
            printable += kHex[byte >> 4];
            printable += kHex[byte & 0xf];
        } else {
            printable += c;
        }
    }
    if (shown.size() < text.size()) {
        printable += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return printable;
}
