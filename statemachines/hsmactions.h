#pragma once
// Building blocks of state definitions (see hsmstates.h).
//
// Actions, run on the machine's thread:
//   HsmCall<&H::Op>        calls the action handler's operation
//   HsmRespond<&H::Member> calls a std::function<void()> member of the handler
//                          when it is set, skips it otherwise
//   HsmPost<Event>         posts a new Event to the machine through the handler
//   HsmStopMachine         stops the machine (Run returns after this dispatch)
// Reactions, tested in their listed order:
//   HsmTransition<Event, Target>   exit the current leaf, enter Target
//   HsmInternal<Event, Actions...> run the actions, stay in the state

#include "statemachines/hsmstates.h"

#include <memory>
#include <typeinfo>

template <auto Operation>
struct HsmCall {
    template <typename M>
    static void Run(M& machine)
    {
        (machine.ActionHandler().*Operation)();
    }
};

template <auto Callback>
struct HsmRespond {
    template <typename M>
    static void Run(M& machine)
    {
        const auto& callback = machine.ActionHandler().*Callback;
        if (callback) {
            callback();
        }
    }
};

template <typename Event>
struct HsmPost {
    template <typename M>
    static void Run(M& machine)
    {
        machine.ActionHandler().PostEvent(std::make_shared<Event>());
    }
};

struct HsmStopMachine {
    template <typename M>
    static void Run(M& machine)
    {
        machine.Stop();
    }
};

template <typename Event, typename Target>
struct HsmTransition {
    template <typename Leaf, typename M>
    static bool TryOne(M& machine, const std::type_info& type, std::string_view stateName, IHsmEvent& event)
    {
        if (type != typeid(Event)) {
            return false;
        }
        HsmAccept(stateName, event);
        Leaf::template TransitTo<Target>(machine);
        return true;
    }
};

template <typename Event, typename... Actions>
struct HsmInternal {
    template <typename Leaf, typename M>
    static bool TryOne(M& machine, const std::type_info& type, std::string_view stateName, IHsmEvent& event)
    {
        if (type != typeid(Event)) {
            return false;
        }
        HsmAccept(stateName, event);
        HsmActions<Actions...>::Run(machine);
        return true;
    }
};
