#pragma once
// Turns the collected content of an answer into its list of values.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CAtResponseParser {
public:
    // With a prefix, the working text is what follows the prefix on the first
    // line containing it; nullopt when no line contains it. Without a prefix
    // it is the whole content. An unread-message listing anywhere in the
    // content gives the message bodies; otherwise the working text, stripped
    // of CR, LF, double quotes and spaces, is split at ",".
    static std::optional<std::vector<std::string>> Parse(std::string_view content,
                                                         std::optional<std::string_view> expected);

    // Bodies of the "+CMGL: <n>,\"REC UNREAD\",\"<from>\",,\"<time>\"" entries,
    // in order. A body ends before the blanks that precede the next "+CMGL"
    // or the end of the content.
    static std::vector<std::string> UnreadMessages(std::string_view content);

    // The text without CR, LF, '"' and ' ', split at ","; a trailing ","
    // gives a final empty value.
    static std::vector<std::string> CleanAndSplit(std::string_view text);
};
