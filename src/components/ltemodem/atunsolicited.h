#pragma once
// Recognises the modem's unsolicited result codes by their shape. The module
// sends them whenever something happens, also between the lines of an
// answer to a command, so every line the channel reads is checked here
// before it counts as answer content.

#include <optional>
#include <string_view>

class CAtUnsolicited {
public:
    // True when the line is an unsolicited code. expected is the prefix of
    // the command in flight ("+CEREG:"), if any: a code that shares the
    // prefix of the answer counts as unsolicited only where its argument
    // count tells it apart ("+CEREG: 1" against "+CEREG: 0,1").
    static bool IsUnsolicited(std::string_view line, std::optional<std::string_view> expected);

    // The number of comma-separated arguments after "<prefix>: " (commas
    // inside double quotes do not count); 0 for a line without ':'.
    static int ArgumentCount(std::string_view line);
};
