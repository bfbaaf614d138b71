#include "src/components/ltemodem/atresponseparser.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using Values = std::vector<std::string>;

TEST(AtResponseParserTest, ParseTable)
{
    struct SCase {
        const char* name;
        std::string content;
        std::optional<std::string_view> prefix;
        std::optional<Values> values;
    };
    const std::vector<SCase> cases = {
        {"prefix anywhere in the line", "junk +CPIN: READY\n", "+CPIN:", Values {"READY"}},
        {"first line with the prefix wins", "+CEREG: 0,1\n+CEREG: 0,5\n", "+CEREG:", Values {"0", "1"}},
        {"prefix missing", "+CPIN: READY\n", "+QCCID:", std::nullopt},
        {"nothing after the prefix", "+CPMS\n", "+CPMS", Values {}},
        {"no prefix keeps every line", "+QIACT: 1,1,1,\"10.0.0.2\"\n", std::nullopt,
         Values {"+QIACT:1", "1", "1", "10.0.0.2"}},
        {"leading and trailing comma", "+X: ,a,\n", "+X:", Values {"", "a", ""}},
        {"no comma", "867123456789012\n", std::nullopt, Values {"867123456789012"}},
        {"spaces and quotes removed", "+QNWINFO: \"FDD LTE\",\"26201\",\"LTE BAND 20\",6300\n", "+QNWINFO:",
         Values {"FDDLTE", "26201", "LTEBAND20", "6300"}},
        {"listing wins over the prefix", "+CMGL: 3,\"REC UNREAD\",\"a\",,\"b\"\nhi\n", "+CMGL:", Values {"hi"}},
        {"read messages are not unread", "+CMGL: 3,\"REC READ\",\"a\",,\"b\"\nhi\n", std::nullopt,
         Values {"+CMGL:3", "RECREAD", "a", "", "bhi"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CAtResponseParser::Parse(c.content, c.prefix), c.values);
    }
}

// The message listing as the modem's documentation describes it, matched
// with a regular expression; the hand-written scanner must agree with it.
Values RegexBodies(const std::string& content)
{
    static const std::regex pattern(
        "\\+CMGL: \\d+,\"REC UNREAD\",\"[^\"]*\",,\"[^\"]*\"[\\s\\n]([\\s\\S]*?)[\\s]+(?=\\+CMGL|$)");
    Values bodies;
    for (auto it = std::sregex_iterator(content.begin(), content.end(), pattern); it != std::sregex_iterator(); ++it) {
        bodies.push_back((*it)[1].str());
    }
    return bodies;
}

TEST(AtResponseParserTest, UnreadMessagesAgreeWithThePattern)
{
    const std::string head = "+CMGL: 12,\"REC UNREAD\",\"+491701234567\",,\"24/05/01,12:00:00+08\"";
    const std::vector<std::string> listings = {
        head + "\nreboot pw\n",
        head + "\nline one\nline two\n\n" + head + "\n\n+CMGL",
        head + "\n  spaced out  \n" + "+CMGL: 13,\"REC READ\",\"x\",,\"y\"\nold\n" + head + "\nnew\n",
        head + "\n\n",
        head + "\r\nbody\r\n",
        head + "X no blank after head\n",
        "+CMGL: ,\"REC UNREAD\",\"a\",,\"b\"\nno index\n",
        "+CMGL: 1,\"REC UNREAD\",\"a\",\"b\"\none comma\n",
        head + "\nbody without end",
        head + "\nbody +CMGL inside\n",
        "+CMGL: 1,\"REC UNREAD\",\"a\n+CMGL: 2,\"REC UNREAD\",\"b\",,\"c\"\nnested\n",
        "",
    };
    for (const auto& listing : listings) {
        SCOPED_TRACE(listing);
        EXPECT_EQ(CAtResponseParser::UnreadMessages(listing), RegexBodies(listing));
    }
    EXPECT_EQ(CAtResponseParser::UnreadMessages(listings[1]), (Values {"line one\nline two", ""}));
}

} // namespace
