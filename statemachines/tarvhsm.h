#pragma once
// The daemon's lifecycle: eleven leaf states under the composite
// "Statemachine", their entry and exit actions and every transition.
//
//   Uninitialized --ExtDisableReq--> Initializing --IntInitializingDone--> Disabled
//   Disabled --ExtEnableReq--> Enabling --IntEnablingDone--> Enabled
//   Enabled --ExtDisableReq--> Disabling --IntDisablingDone--> Disabled
//   any --IntError--> Error --IntRecover--> Recovering --IntRecoveringDone--> Disabled
//   any --IntFatalError--> FatalError
//   any --IntTerminate--> Terminating --IntTerminatingDone--> _Final_Statemachine (stops)

#include "statemachines/hsm.h"
#include "statemachines/hsmactions.h"
#include "statemachines/hsmstates.h"
#include "statemachines/tarvhsmactionhandlerbase.h"
#include "statemachines/tarvhsmevents.h"

using CTarvHsm = CHsm<CTarvHsmActionHandlerBase>;

namespace TarvHsm {
using Top = TopState<CTarvHsm>;
using Outer = CompState<CTarvHsm, 0, Top>;
using Statemachine = CompState<CTarvHsm, 0, Outer>;

using Disabled = LeafState<CTarvHsm, 1, Statemachine>;
using Disabling = LeafState<CTarvHsm, 2, Statemachine>;
using Enabled = LeafState<CTarvHsm, 3, Statemachine>;
using Enabling = LeafState<CTarvHsm, 4, Statemachine>;
using Error = LeafState<CTarvHsm, 5, Statemachine>;
using FatalError = LeafState<CTarvHsm, 6, Statemachine>;
using Initializing = LeafState<CTarvHsm, 7, Statemachine>;
using Recovering = LeafState<CTarvHsm, 8, Statemachine>;
using Terminating = LeafState<CTarvHsm, 9, Statemachine>;
using Uninitialized = LeafState<CTarvHsm, 10, Statemachine>;
using Final = LeafState<CTarvHsm, 11, Statemachine>;

using H = CTarvHsmActionHandlerBase;
} // namespace TarvHsm

template <>
struct SHsmDefinition<CTarvHsmActionHandlerBase> {
    using Initial = TarvHsm::Uninitialized;
};

template <>
struct SHsmStateDef<TarvHsm::Statemachine> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Statemachine";
    using Reactions = HsmReactions<
        HsmTransition<TarvHsm::IntError, TarvHsm::Error>,
        HsmTransition<TarvHsm::IntFatalError, TarvHsm::FatalError>,
        HsmTransition<TarvHsm::IntTerminate, TarvHsm::Terminating>,
        HsmInternal<TarvHsm::ExtError, HsmPost<TarvHsm::IntError>>,
        HsmInternal<TarvHsm::IntAlive, HsmRespond<&TarvHsm::H::ExtSendAlive>>,
        HsmInternal<TarvHsm::IntNtpInitialized, HsmCall<&TarvHsm::H::IntStartNtpd>>>;
};

template <>
struct SHsmStateDef<TarvHsm::Disabled> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Disabled";
    using Entry = HsmActions<HsmRespond<&TarvHsm::H::ExtDisabledRsp>>;
    using Reactions = HsmReactions<
        HsmTransition<TarvHsm::ExtEnableReq, TarvHsm::Enabling>,
        HsmInternal<TarvHsm::ExtDisableReq, HsmRespond<&TarvHsm::H::ExtDisabledRsp>>>;
};

template <>
struct SHsmStateDef<TarvHsm::Disabling> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Disabling";
    using Entry = HsmActions<HsmCall<&TarvHsm::H::IntDisableAll>>;
    using Reactions = HsmReactions<HsmTransition<TarvHsm::IntDisablingDone, TarvHsm::Disabled>>;
};

template <>
struct SHsmStateDef<TarvHsm::Enabled> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Enabled";
    // Enabled is set up before it is reported, so that a peer reacting to
    // state 3 at once is accepted.
    using Entry = HsmActions<HsmCall<&TarvHsm::H::IntSetTarvEnabled>,
                             HsmRespond<&TarvHsm::H::ExtEnabledRsp>,
                             HsmCall<&TarvHsm::H::IntStartAliveTimer>>;
    using Exit = HsmActions<HsmCall<&TarvHsm::H::IntSetTarvNotEnabled>, HsmCall<&TarvHsm::H::IntStopAliveTimer>>;
    using Reactions = HsmReactions<
        HsmTransition<TarvHsm::ExtDisableReq, TarvHsm::Disabling>,
        HsmInternal<TarvHsm::IntTarvEnable, HsmCall<&TarvHsm::H::IntSetTarvEnabled>>,
        HsmInternal<TarvHsm::IntTarvIfInit, HsmCall<&TarvHsm::H::IntEnableNetworks>>,
        HsmInternal<TarvHsm::ExtEnableReq, HsmRespond<&TarvHsm::H::ExtEnabledRsp>>>;
};

template <>
struct SHsmStateDef<TarvHsm::Enabling> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Enabling";
    using Entry = HsmActions<HsmPost<TarvHsm::IntEnablingDone>>;
    using Reactions = HsmReactions<HsmTransition<TarvHsm::IntEnablingDone, TarvHsm::Enabled>>;
};

template <>
struct SHsmStateDef<TarvHsm::Error> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Error";
    using Entry = HsmActions<HsmCall<&TarvHsm::H::IntStopWorkerThread>,
                             HsmCall<&TarvHsm::H::IntHandleError>,
                             HsmRespond<&TarvHsm::H::ExtErrorRsp>,
                             HsmPost<TarvHsm::IntRecover>>;
    using Reactions = HsmReactions<HsmTransition<TarvHsm::IntRecover, TarvHsm::Recovering>>;
};

template <>
struct SHsmStateDef<TarvHsm::FatalError> : SHsmStateDefaults {
    static constexpr std::string_view kName = "FatalError";
    // Only a restart leaves FatalError: a recovery retry armed in Error must not
    // go on posting into it.
    using Entry = HsmActions<HsmCall<&TarvHsm::H::IntStopRecovery>, HsmRespond<&TarvHsm::H::ExtFatalErrorRsp>>;
    using Reactions = HsmReactions<
        HsmInternal<TarvHsm::IntError, HsmRespond<&TarvHsm::H::ExtFatalErrorRsp>>,
        HsmInternal<TarvHsm::ExtDisableReq, HsmRespond<&TarvHsm::H::ExtFatalErrorRsp>>,
        HsmInternal<TarvHsm::ExtEnableReq, HsmRespond<&TarvHsm::H::ExtFatalErrorRsp>>>;
};

template <>
struct SHsmStateDef<TarvHsm::Initializing> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Initializing";
    using Entry = HsmActions<HsmCall<&TarvHsm::H::IntInitializeNetwork>, HsmCall<&TarvHsm::H::IntInitializeNtp>>;
    using Reactions = HsmReactions<HsmTransition<TarvHsm::IntInitializingDone, TarvHsm::Disabled>>;
};

// No entry action: the action handler arms the recovery retry when Error is
// entered (IntHandleError) and IntRecoveryDone arrives from it here.
template <>
struct SHsmStateDef<TarvHsm::Recovering> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Recovering";
    using Reactions = HsmReactions<
        HsmTransition<TarvHsm::IntRecoveringDone, TarvHsm::Disabled>,
        HsmInternal<TarvHsm::IntRecoveryDone, HsmCall<&TarvHsm::H::IntReinitialize>>>;
};

template <>
struct SHsmStateDef<TarvHsm::Terminating> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Terminating";
    using Entry = HsmActions<HsmCall<&TarvHsm::H::IntStopWorkerThread>>;
    using Reactions = HsmReactions<
        HsmTransition<TarvHsm::IntTerminatingDone, TarvHsm::Final>,
        HsmInternal<TarvHsm::IntStopWorkerThreadDone, HsmPost<TarvHsm::IntTerminatingDone>>>;
};

template <>
struct SHsmStateDef<TarvHsm::Uninitialized> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Uninitialized";
    using Entry = HsmActions<HsmRespond<&TarvHsm::H::ExtUninitializedRsp>>;
    using Reactions = HsmReactions<HsmTransition<TarvHsm::ExtDisableReq, TarvHsm::Initializing>>;
};

// Reaching the final state stops the machine; Run returns.
template <>
struct SHsmStateDef<TarvHsm::Final> : SHsmStateDefaults {
    static constexpr std::string_view kName = "_Final_Statemachine";
    using Entry = HsmActions<HsmStopMachine>;
};
