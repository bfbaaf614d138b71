#pragma once
// Interface existence and state checks and recovery on top of the link
// queries and the command runner. Holds nothing but its two services, so
// it may be called from several threads at once.

#include "src/components/system/iruncommand.h"
#include "src/components/links/itarverrorhandler.h"
#include "src/components/links/itarvnetlink.h"
#include "platform/worker/iclock.h"

#include <chrono>

#include <memory>

class CTarvErrorHandler : public ITarvErrorHandler {
public:
    // How long a link may take to show its new state after ifup or ifdown
    // returned (the kernel reports some carrier changes up to a second late).
    static constexpr std::chrono::seconds kSettleTime{3};
    static constexpr std::chrono::milliseconds kPollInterval{100};

    CTarvErrorHandler(std::shared_ptr<IRunCommand> runCommand, std::shared_ptr<ITarvNetlink> netlink,
                      std::shared_ptr<IClock> clock = IClock::Steady());

    bool DoesIfExist(const std::string& interfaceName) override;
    bool RecoverFromIfUpDown(const std::string& interfaceName, std::uint8_t desiredState) override;
    bool IsIfInDesiredState(const std::string& interfaceName, std::uint8_t desiredState) override;

private:
    // Flushes the addresses and runs the up or down commands; true when the
    // interface reached the state.
    bool BringTo(const std::string& interfaceName, std::uint8_t desiredState);
    // Polls until the interface is in the state or kSettleTime has passed.
    bool Settles(const std::string& interfaceName, std::uint8_t desiredState);

    const std::shared_ptr<IRunCommand> mRunCommand;
    const std::shared_ptr<ITarvNetlink> mNetlink;
    const std::shared_ptr<IClock> mClock;
};
