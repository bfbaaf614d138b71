#pragma once
// Collects the lines of one command's answer until its final result line and
// judges it. Holds no I/O: the AT channel feeds it the lines it reads.

#include "src/components/ltemodem/atcommand.h"

#include <cstddef>
#include <string>
#include <string_view>

class CAtAnswer {
public:
    // Bound of the collected content; an unread-message listing of a full
    // SIM stays well below it. Lines beyond it are dropped and the answer
    // is judged an error.
    static constexpr std::size_t kMaxContentBytes = 32 * 1024;

    explicit CAtAnswer(const AtCommand& command);

    // Takes one received line (without line end); true when it was the final
    // result line. Lines after the final one are ignored.
    bool AddLine(std::string_view line);

    bool IsComplete() const { return mComplete; }
    // Information lines that counted, each followed by "\n".
    const std::string& Content() const { return mContent; }
    const std::string& FinalLine() const { return mFinal; }
    // Ok when the final line is "OK", the expected prefix was seen and a
    // valid line arrived (where the command asks for them); Error otherwise.
    EAtResult Verdict() const;
    // Why Verdict() is Error: "Invalid data", "Command fail" or "Answer too long".
    const char* FailureReason() const;

    // A final result line: "OK", "ERROR", "+CME ERROR: n" or "+CMS ERROR: n"
    // (surrounding blanks ignored). A line that merely contains "OK" inside
    // a value (an operator named "TOKYO", an SMS text) is not final.
    static bool IsFinalLine(std::string_view line);
    static bool IsSuccessLine(std::string_view line);
    // The line without surrounding blanks (spaces, tabs, CR, LF).
    static std::string_view Trim(std::string_view text);

private:
    const AtCommand& mCommand;
    bool mExpectedSeen;
    bool mValidSeen;
    bool mComplete = false;
    bool mOverflow = false;
    std::string mContent;
    std::string mFinal;
};
