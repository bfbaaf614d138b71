// libFuzzer target for the AT channel's answer handling: the bytes are
// split into lines the way the serial port hands them out, fed to the
// answer collector of one of four command kinds (picked by the first
// byte), and a complete answer is parsed. Short inputs are also checked
// against the message-listing pattern as a regular expression.
// Built and run by scripts/fuzz.sh.

#include "src/components/ltemodem/atanswer.h"
#include "src/components/ltemodem/atresponseparser.h"

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

namespace {

using namespace std::chrono_literals;

bool FifteenDigits(std::string_view line)
{
    return line.size() == 15 && line.find_first_not_of("0123456789") == std::string_view::npos;
}

const AtCommand kCommands[] = {
    {.command = "AT+CMGL=\"REC UNREAD\"", .timeout = 500ms},
    {.command = "AT+CPIN?", .expected = "+CPIN:", .timeout = 500ms},
    {.command = "AT+GSN", .validator = FifteenDigits, .timeout = 500ms},
    {.command = "AT+QCFG=\"band\"", .expected = "+QCFG: \"band\"", .timeout = 500ms},
};

// The serial port's longest line.
constexpr std::size_t kMaxLine = 4096;

std::vector<std::string> RegexBodies(const std::string& content)
{
    static const std::regex pattern(
        "\\+CMGL: \\d+,\"REC UNREAD\",\"[^\"]*\",,\"[^\"]*\"[\\s\\n]([\\s\\S]*?)[\\s]+(?=\\+CMGL|$)");
    std::vector<std::string> bodies;
    for (auto it = std::sregex_iterator(content.begin(), content.end(), pattern); it != std::sregex_iterator(); ++it) {
        bodies.push_back((*it)[1].str());
    }
    return bodies;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const AtCommand& command = kCommands[data[0] % std::size(kCommands)];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    CAtAnswer answer(command);
    std::size_t start = 0;
    while (start < input.size() && !answer.IsComplete()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) {
            break; // a line without its end is never handed out
        }
        std::string_view line = input.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() <= kMaxLine) {
            answer.AddLine(line);
        }
        start = end + 1;
    }
    if (answer.Content().size() > CAtAnswer::kMaxContentBytes) {
        std::abort();
    }
    if (answer.IsComplete() && answer.Verdict() == EAtResult::Ok && !answer.Content().empty()) {
        CAtResponseParser::Parse(answer.Content(), command.expected);
    }

    if (input.size() < 512) {
        const std::string text(input);
        if (CAtResponseParser::UnreadMessages(text) != RegexBodies(text)) {
            std::abort();
        }
    }
    return 0;
}
