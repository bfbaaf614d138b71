#pragma once
// Checks and conversions for the values that enter the modem layer:
// configuration values that end up inside AT commands, and numbers in the
// modem's answers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CModemValidation {
public:
    // A SIM PIN: 4 to 8 decimal digits.
    static bool IsSimPin(std::string_view text);
    // A value the modem receives inside double quotes (APN name, user,
    // password): no '"', which would end the quoted field, and no control
    // character (CR ends the command line, backspace edits it).
    static bool IsQuotableText(std::string_view text);

    // The modem's code of a configured authentication ("", "None", "PAP",
    // "CHAP", "PAP or CHAP") or IP type ("", "IPv4", "IPv6", "IPv4v6");
    // nullopt for any other text.
    static std::optional<std::string> AuthCode(std::string_view text);
    static std::optional<std::string> IpTypeCode(std::string_view text);

    // A signed decimal number as the modem writes it (leading blanks
    // skipped, trailing text ignored); error receives the conversion's message.
    enum class EConversion { Ok, NoNumber, OutOfRange };
    static EConversion ToInt32(const std::string& text, std::int32_t& value, std::string& error);
};
