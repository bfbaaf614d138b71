#include "src/components/links/tarverrorhandler.h"

#include "platform/log/log.h"
#include "src/components/links/netlinklinkhandle.h"
#include "src/components/system/tarvexception.h"

#include <utility>

namespace {
constexpr unsigned kCommandRetries = 5;
} // namespace

CTarvErrorHandler::CTarvErrorHandler(std::shared_ptr<IRunCommand> runCommand, std::shared_ptr<ITarvNetlink> netlink,
                                     std::shared_ptr<IClock> clock)
    : mRunCommand(std::move(runCommand)), mNetlink(std::move(netlink)),
      mClock(clock ? std::move(clock) : IClock::Steady())
{
}

bool CTarvErrorHandler::IsIfInDesiredState(const std::string& interfaceName, std::uint8_t desiredState)
{
    TLOG_FUNCTION();
    const CNetlinkLinkHandle link(*mNetlink, interfaceName);
    return link.State() == desiredState;
}

bool CTarvErrorHandler::DoesIfExist(const std::string& interfaceName)
{
    TLOG_FUNCTION();
    try {
        const CNetlinkLinkHandle link(*mNetlink, interfaceName);
        return true;
    } catch (const CTarvException&) {
        TLOG_TRACE("{} interface does not exist", interfaceName);
        return false;
    }
}

bool CTarvErrorHandler::RecoverFromIfUpDown(const std::string& interfaceName, std::uint8_t desiredState)
{
    TLOG_FUNCTION();
    // A missing interface throws here, before any command runs.
    if (IsIfInDesiredState(interfaceName, desiredState)) {
        return true;
    }
    // The interface may have disappeared since the first query.
    if (DoesIfExist(interfaceName) && BringTo(interfaceName, desiredState)) {
        return true;
    }
    TLOG_ERROR("could not recover and bring {} up", interfaceName);
    return false;
}

bool CTarvErrorHandler::BringTo(const std::string& interfaceName, std::uint8_t desiredState)
{
    if (mRunCommand->Run("ip addr flush " + interfaceName, kCommandRetries).exitCode != 0) {
        return false;
    }
    if (desiredState == Tarv::kOperStateUp) {
        return mRunCommand->Run("ifup " + interfaceName, 0).exitCode == 0 &&
               Settles(interfaceName, Tarv::kOperStateUp);
    }
    if (desiredState == Tarv::kOperStateDown) {
        return mRunCommand->Run("ip link set dev " + interfaceName + " down", kCommandRetries).exitCode == 0 &&
               mRunCommand->Run("ifdown " + interfaceName, 0).exitCode == 0 &&
               Settles(interfaceName, Tarv::kOperStateDown);
    }
    return false;
}

bool CTarvErrorHandler::Settles(const std::string& interfaceName, std::uint8_t desiredState)
{
    const IClock::time_point deadline = mClock->Now() + kSettleTime;
    for (;;) {
        if (IsIfInDesiredState(interfaceName, desiredState)) {
            return true;
        }
        if (mClock->Now() >= deadline) {
            return false;
        }
        mClock->SleepFor(kPollInterval);
    }
}
