#include "src/components/handlers/ltesmsreboot.h"

#include "platform/log/log.h"
#include "platform/toolbox/tarvvalidation.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace {

// Message bodies are compared without trailing white space.
std::string TrimEnd(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n' || text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

} // namespace

CLteSmsReboot::CLteSmsReboot(std::shared_ptr<Modem::IModem> modem, std::shared_ptr<ITarvConfig> config,
                             std::shared_ptr<IBoardControl> boardControl)
    : mModem(std::move(modem)), mConfig(std::move(config)), mBoardControl(std::move(boardControl))
{
}

void CLteSmsReboot::CheckMessages(IClock::time_point now)
{
    if (HasAuthorisedRequest()) {
        mPendingSince = now;
        RequestReboot(now);
    }
}

void CLteSmsReboot::RequestReboot(IClock::time_point now)
{
    if (mBoardControl && mBoardControl->RebootRequest()) {
        TLOG_INFO("SMS reboot: the board controller took the reboot request");
        mInProgress = true;
        mPendingSince.reset();
        mModem->DeleteReadSmsMsgs();
        return;
    }
    if (now - *mPendingSince >= kRequestLimit) {
        TLOG_ERROR("SMS reboot: the board controller did not take the reboot request within {} minutes, given up",
                   kRequestLimit.count());
        mPendingSince.reset();
        mModem->DeleteReadSmsMsgs();
        return;
    }
    if (now == *mPendingSince) {
        TLOG_ERROR("Reboot request to the board controller failed, asking again on every update");
    }
}

bool CLteSmsReboot::HasAuthorisedRequest()
{
    TLOG_FUNCTION();
    if (!mModem->IsSmsEnabled()) {
        TLOG_DEBUG("SMS reboot not possible");
        return false;
    }
    if (mInProgress) {
        TLOG_WARN("SMS reboot already in progress");
        return false;
    }
    std::vector<std::string> messages;
    if (mModem->GetSmsMsg(messages) != EAtResult::Ok || messages.empty()) {
        return false;
    }
    const std::string password = mConfig->GetString(TarvSmsPassword);
    if (password.empty()) {
        TLOG_DEBUG("SMS reboot inactive because no password is set");
        mModem->DeleteReadSmsMsgs();
        return false;
    }
    const std::string expected = "reboot " + password;
    for (const auto& message : messages) {
        const std::string body = TrimEnd(message);
        if (body == expected) {
            // Deleted once the board controller took the request.
            TLOG_INFO("SMS Reboot Authorized, reboot requested...");
            return true;
        }
        // A near miss may hold most of the password: such a body is not shown.
        std::string head = body.substr(0, 7);
        std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
        const bool rebootRequest = head == "reboot ";
        TLOG_INFO("SMS received but reboot request rejected: \"{}\" ",
                  rebootRequest || body.find(password) != std::string::npos ? std::string("<reboot request>")
                                                                           : CTarvValidation::Printable(body));
    }
    mModem->DeleteReadSmsMsgs();
    return false;
}
