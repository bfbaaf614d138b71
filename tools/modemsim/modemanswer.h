#pragma once
// One answer of the simulated modem, the arguments of one command line,
// and the small helpers the command handlers build answers with.

#include <optional>
#include <string>
#include <vector>

// The answer to one command: information lines, then the final result line
// ("OK", "ERROR", "+CME ERROR: n", "+CMS ERROR: n").
struct SModemAnswer {
    std::vector<std::string> lines;
    std::string final = "OK";

    static SModemAnswer Ok() { return {}; }
    static SModemAnswer Final(std::string final)
    {
        SModemAnswer a;
        a.final = std::move(final);
        return a;
    }
    static SModemAnswer Error() { return Final("ERROR"); }
    static SModemAnswer Cme(int code) { return Final("+CME ERROR: " + std::to_string(code)); }
    static SModemAnswer Cms(int code) { return Final("+CMS ERROR: " + std::to_string(code)); }
    static SModemAnswer Lines(std::vector<std::string> lines)
    {
        SModemAnswer a;
        a.lines = std::move(lines);
        return a;
    }
};

// The two answers most command handlers give.
inline const SModemAnswer kOk = SModemAnswer::Ok();
inline const SModemAnswer kError = SModemAnswer::Error();

// One argument of a command line.
struct SAtArg {
    std::string text; // without its quotes
    bool quoted = false;
};
using AtArgs = std::vector<SAtArg>;

namespace AtText {

inline std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
}

inline bool IsDigits(const std::string& text, std::size_t min, std::size_t max)
{
    return text.size() >= min && text.size() <= max && text.find_first_not_of("0123456789") == std::string::npos;
}

// A decimal number from min to max, nothing else.
inline std::optional<int> ToInt(const std::string& text, int min, int max)
{
    if (!IsDigits(text, 1, 9)) {
        return std::nullopt;
    }
    const int value = std::stoi(text);
    if (value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

} // namespace AtText
