#include "src/components/ltemodem/atresponseparser.h"

#include <cstddef>

namespace {

constexpr std::string_view kListingHead = "+CMGL: ";
constexpr std::string_view kNextEntry = "+CMGL";
constexpr std::string_view kUnreadStatus = ",\"REC UNREAD\",";

// The blanks of the message listing: space, tab, line ends, vertical tab, form feed.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Moves pos past a quoted field ("...", any characters but '"'); false when
// the text at pos is not one.
bool SkipQuoted(std::string_view text, std::size_t& pos)
{
    if (pos >= text.size() || text[pos] != '"') {
        return false;
    }
    const auto close = text.find('"', pos + 1);
    if (close == std::string_view::npos) {
        return false;
    }
    pos = close + 1;
    return true;
}

bool SkipLiteral(std::string_view text, std::size_t& pos, std::string_view literal)
{
    if (text.substr(pos).starts_with(literal)) {
        pos += literal.size();
        return true;
    }
    return false;
}

// Tries to read one unread entry whose head starts at pos. On success the
// body is stored and end is where the search goes on.
bool MatchEntry(std::string_view text, std::size_t pos, std::string& body, std::size_t& end)
{
    pos += kListingHead.size();
    const std::size_t digits = pos;
    while (pos < text.size() && IsDigit(text[pos])) {
        ++pos;
    }
    if (pos == digits || !SkipLiteral(text, pos, kUnreadStatus) || !SkipQuoted(text, pos) ||
        !SkipLiteral(text, pos, ",,") || !SkipQuoted(text, pos)) {
        return false;
    }
    if (pos >= text.size() || !IsBlank(text[pos])) {
        return false;
    }
    const std::size_t bodyStart = pos + 1;
    // The body is the shortest text followed by a run of blanks that reaches
    // the next entry or the end.
    for (std::size_t p = bodyStart; p < text.size();) {
        if (!IsBlank(text[p])) {
            ++p;
            continue;
        }
        std::size_t q = p;
        while (q < text.size() && IsBlank(text[q])) {
            ++q;
        }
        if (q == text.size() || text.substr(q).starts_with(kNextEntry)) {
            body.assign(text.substr(bodyStart, p - bodyStart));
            end = q;
            return true;
        }
        p = q;
    }
    return false;
}

} // namespace

std::vector<std::string> CAtResponseParser::UnreadMessages(std::string_view content)
{
    std::vector<std::string> bodies;
    std::size_t pos = 0;
    while ((pos = content.find(kListingHead, pos)) != std::string_view::npos) {
        std::string body;
        std::size_t end = 0;
        if (MatchEntry(content, pos, body, end)) {
            bodies.push_back(std::move(body));
            pos = end;
        } else {
            ++pos;
        }
    }
    return bodies;
}

std::vector<std::string> CAtResponseParser::CleanAndSplit(std::string_view text)
{
    std::vector<std::string> values(1);
    for (const char c : text) {
        if (c == '\r' || c == '\n' || c == '"' || c == ' ') {
            continue;
        }
        if (c == ',') {
            values.emplace_back();
        } else {
            values.back().push_back(c);
        }
    }
    return values;
}

std::optional<std::vector<std::string>> CAtResponseParser::Parse(std::string_view content,
                                                                 std::optional<std::string_view> expected)
{
    std::string_view working = content;
    if (expected.has_value()) {
        bool found = false;
        std::size_t lineStart = 0;
        while (lineStart < content.size()) {
            auto lineEnd = content.find('\n', lineStart);
            if (lineEnd == std::string_view::npos) {
                lineEnd = content.size();
            }
            const std::string_view line = content.substr(lineStart, lineEnd - lineStart);
            const auto at = line.find(*expected);
            if (at != std::string_view::npos) {
                working = line.substr(at + expected->size());
                found = true;
                break;
            }
            lineStart = lineEnd + 1;
        }
        if (!found) {
            return std::nullopt;
        }
    }
    if (working.empty()) {
        return std::vector<std::string> {};
    }
    std::vector<std::string> bodies = UnreadMessages(content);
    if (!bodies.empty()) {
        return bodies;
    }
    return CleanAndSplit(working);
}
