#pragma once
// A small machine for the engine tests: two leaves under a named composite.
//
//   First:  EvGo -> Second; EvBurst internal: posts three EvGo, then stops
//           the machine
//   Second: EvGo internal; EvThrow internal, throws

#include "statemachines/hsm.h"
#include "statemachines/hsmactions.h"
#include "statemachines/hsmevent.h"

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct STestTag {
    static constexpr std::array<std::string_view, 3> kNames{"EvGo", "EvBurst", "EvThrow"};
    static constexpr std::string_view EventName(unsigned n) { return kNames.at(n); }
};

using EvGo = CHsmEvent<STestTag, 0>;
using EvBurst = CHsmEvent<STestTag, 1>;
using EvThrow = CHsmEvent<STestTag, 2>;

class CTestHandler : public CHsmActionHandlerBase {
public:
    void EnterFirst() { Record("EnterFirst"); if (mThrowOnEnterFirst) throw std::runtime_error("entry failed"); }
    void EnterSecond() { Record("EnterSecond"); }
    void SecondGo() { Record("SecondGo"); }
    void Burst()
    {
        Record("Burst");
        Post<EvGo>();
        Post<EvGo>();
        Post<EvGo>();
        GetHsmInterface()->Stop();
    }
    void Throw() { throw std::runtime_error("action failed"); }

    void Record(const std::string& what) { mCalls.push_back(what); }

    std::vector<std::string> mCalls;
    bool mThrowOnEnterFirst = false;
};

using CTestHsm = CHsm<CTestHandler>;
using TestTop = TopState<CTestHsm>;
using TestComp = CompState<CTestHsm, 0, TestTop>;
using First = LeafState<CTestHsm, 1, TestComp>;
using Second = LeafState<CTestHsm, 2, TestComp>;

template <>
struct SHsmDefinition<CTestHandler> {
    using Initial = First;
};

template <>
struct SHsmStateDef<TestComp> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Machine";
};

template <>
struct SHsmStateDef<First> : SHsmStateDefaults {
    static constexpr std::string_view kName = "First";
    using Entry = HsmActions<HsmCall<&CTestHandler::EnterFirst>>;
    using Reactions = HsmReactions<HsmTransition<EvGo, Second>,
                                   HsmInternal<EvBurst, HsmCall<&CTestHandler::Burst>>>;
};

template <>
struct SHsmStateDef<Second> : SHsmStateDefaults {
    static constexpr std::string_view kName = "Second";
    using Entry = HsmActions<HsmCall<&CTestHandler::EnterSecond>>;
    using Reactions = HsmReactions<HsmInternal<EvGo, HsmCall<&CTestHandler::SecondGo>>,
                                   HsmInternal<EvThrow, HsmCall<&CTestHandler::Throw>>>;
};
