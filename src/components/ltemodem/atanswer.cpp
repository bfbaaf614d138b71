#include "src/components/ltemodem/atanswer.h"

const char* AtResultName(EAtResult result)
{
    switch (result) {
    case EAtResult::Ok:
        return "Ok";
    case EAtResult::Error:
        return "Error";
    case EAtResult::SerialError:
        return "SerialError";
    case EAtResult::Timeout:
        return "Timeout";
    case EAtResult::SimError:
        return "SimError";
    }
    return "Unknown";
}

CAtAnswer::CAtAnswer(const AtCommand& command)
    : mCommand(command)
    , mExpectedSeen(!command.expected.has_value())
    , mValidSeen(command.validator == nullptr)
{
}

bool CAtAnswer::IsSuccessLine(std::string_view line)
{
    return CAtAnswer::Trim(line) == "OK";
}

bool CAtAnswer::IsFinalLine(std::string_view line)
{
    const std::string_view text = CAtAnswer::Trim(line);
    return text == "OK" || text == "ERROR" || text.starts_with("+CME ERROR:") || text.starts_with("+CMS ERROR:");
}

bool CAtAnswer::AddLine(std::string_view line)
{
    if (mComplete) {
        return false;
    }
    if (!mExpectedSeen && line.starts_with(*mCommand.expected)) {
        mExpectedSeen = true;
    }
    const bool lineValid = mCommand.validator == nullptr || mCommand.validator(line);
    if (IsFinalLine(line)) {
        mFinal.assign(line);
        mComplete = true;
        return true;
    }
    if (line.empty() || !lineValid) {
        return false;
    }
    if (mContent.size() + line.size() + 1 > kMaxContentBytes) {
        mOverflow = true;
        return false;
    }
    mContent.append(line);
    mContent.push_back('\n');
    mValidSeen = true;
    return false;
}

EAtResult CAtAnswer::Verdict() const
{
    return mComplete && !mOverflow && IsSuccessLine(mFinal) && mExpectedSeen && mValidSeen ? EAtResult::Ok
                                                                                          : EAtResult::Error;
}

const char* CAtAnswer::FailureReason() const
{
    if (mOverflow) {
        return "Answer too long";
    }
    return IsSuccessLine(mFinal) ? "Invalid data" : "Command fail";
}

std::string_view CAtAnswer::Trim(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}
