#include "src/components/ltemodem/atunsolicited.h"

#include "src/components/ltemodem/atanswer.h"

#include <array>
#include <initializer_list>

namespace {

struct SCode {
    std::string_view prefix;
    // Whole line instead of a prefix (the start-up and power-down lines).
    bool exact;
    // Argument counts of the unsolicited form where the solicited answer
    // shares the prefix, one bit per count; 0: no count tells them apart.
    unsigned counts;
};

constexpr unsigned Counts(std::initializer_list<int> counts)
{
    unsigned bits = 0;
    for (const int count : counts) {
        bits |= 1U << count;
    }
    return bits;
}

// clang-format off
const std::array kCodes {
    SCode {"+CMTI:", false, 0},   // new SMS stored
    SCode {"+CDSI:", false, 0},   // status report stored
    SCode {"+QIURC:", false, 0},  // data context or socket event
    SCode {"+QIND:", false, 0},   // module indication
    SCode {"+QUSIM:", false, 0},  // SIM type after start-up
    SCode {"+CPIN:", false, 0},   // SIM state after start-up
    SCode {"+CFUN:", false, 0},   // radio state after start-up
    SCode {"+QSIMSTAT:", false, 0}, // SIM inserted or removed
    SCode {"+CEREG:", false, Counts({1, 4, 6})}, // "+CEREG: <stat>[,<tac>,<ci>,<act>[,<type>,<cause>]]"
    SCode {"+CGREG:", false, Counts({1, 3})},    // "+CGREG: <stat>[,<lac>,<ci>]"
    SCode {"+CREG:", false, Counts({1, 3})},
    SCode {"RDY", true, 0},
    SCode {"APP RDY", true, 0},
    SCode {"POWERED DOWN", true, 0},
    SCode {"NORMAL POWER DOWN", true, 0},
};
// clang-format on

bool Contains(unsigned counts, int count)
{
    return count >= 0 && count < 32 && (counts & (1U << count)) != 0;
}

} // namespace

int CAtUnsolicited::ArgumentCount(std::string_view line)
{
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return 0;
    }
    const std::string_view arguments = CAtAnswer::Trim(line.substr(colon + 1));
    if (arguments.empty()) {
        return 0;
    }
    int count = 1;
    bool quoted = false;
    for (const char c : arguments) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            ++count;
        }
    }
    return count;
}

bool CAtUnsolicited::IsUnsolicited(std::string_view line, std::optional<std::string_view> expected)
{
    const std::string_view text = CAtAnswer::Trim(line);
    for (const auto& code : kCodes) {
        if (code.exact) {
            if (text == code.prefix) {
                return true;
            }
            continue;
        }
        if (!text.starts_with(code.prefix)) {
            continue;
        }
        const std::string_view answer = expected ? CAtAnswer::Trim(*expected) : std::string_view {};
        if (answer.empty() || !(code.prefix.starts_with(answer) || answer.starts_with(code.prefix))) {
            return true;
        }
        // The answer of the command in flight shares the prefix.
        return Contains(code.counts, ArgumentCount(text));
    }
    return false;
}
