#pragma once
// The lifecycle events of the daemon. Ext... come from the controlling client
// (through the process-control service), Int... from inside the daemon.

#include "statemachines/hsmevent.h"

#include <array>
#include <string_view>

struct CTarvHsmTag {
    static constexpr std::array<std::string_view, 18> kEventNames{
        "ExtDisableReq",       "ExtEnableReq",      "ExtError",           "IntAlive",
        "IntDisablingDone",    "IntEnablingDone",   "IntError",           "IntFatalError",
        "IntInitializingDone", "IntTarvEnable",     "IntTarvIfInit",      "IntNtpInitialized",
        "IntRecover",          "IntRecoveringDone", "IntRecoveryDone",    "IntStopWorkerThreadDone",
        "IntTerminate",        "IntTerminatingDone"};

    static constexpr std::string_view EventName(unsigned n)
    {
        return n < kEventNames.size() ? kEventNames[n] : std::string_view{"Unknown"};
    }
};

namespace TarvHsm {
using ExtDisableReq = CHsmEvent<CTarvHsmTag, 0>;
using ExtEnableReq = CHsmEvent<CTarvHsmTag, 1>;
using ExtError = CHsmEvent<CTarvHsmTag, 2>;
using IntAlive = CHsmEvent<CTarvHsmTag, 3>;
using IntDisablingDone = CHsmEvent<CTarvHsmTag, 4>;
using IntEnablingDone = CHsmEvent<CTarvHsmTag, 5>;
using IntError = CHsmEvent<CTarvHsmTag, 6>;
using IntFatalError = CHsmEvent<CTarvHsmTag, 7>;
using IntInitializingDone = CHsmEvent<CTarvHsmTag, 8>;
using IntTarvEnable = CHsmEvent<CTarvHsmTag, 9>;
using IntTarvIfInit = CHsmEvent<CTarvHsmTag, 10>;
using IntNtpInitialized = CHsmEvent<CTarvHsmTag, 11>;
using IntRecover = CHsmEvent<CTarvHsmTag, 12>;
using IntRecoveringDone = CHsmEvent<CTarvHsmTag, 13>;
using IntRecoveryDone = CHsmEvent<CTarvHsmTag, 14>;
using IntStopWorkerThreadDone = CHsmEvent<CTarvHsmTag, 15>;
using IntTerminate = CHsmEvent<CTarvHsmTag, 16>;
using IntTerminatingDone = CHsmEvent<CTarvHsmTag, 17>;
} // namespace TarvHsm
