#pragma once
// State hierarchy of a machine M: leaf states under composite states under a
// top state. States are stateless singletons; what a state does is declared in
// a specialisation of SHsmStateDef for it (see hsmactions.h for the parts):
//
//   template <> struct SHsmStateDef<MyLeaf> : SHsmStateDefaults {
//       static constexpr std::string_view kName = "MyLeaf";
//       using Entry = HsmActions<HsmCall<&MyHandler::Start>>;
//       using Reactions = HsmReactions<HsmTransition<EvGo, OtherLeaf>,
//                                      HsmInternal<EvPing, HsmCall<&MyHandler::Ping>>>;
//   };
//
// An event is tested against the current leaf's reactions in their order, then
// against each enclosing composite's, innermost first. The first match handles
// it. Dispatch compares type_info objects only and allocates nothing.

#include "statemachines/ihsmevent.h"
#include "platform/log/log.h"

#include <string_view>
#include <typeinfo>

template <typename... Actions>
struct HsmActions {
    template <typename M>
    static void Run([[maybe_unused]] M& machine)
    {
        (Actions::Run(machine), ...);
    }
};

template <typename... Reactions>
struct HsmReactions {
    // Tries each reaction in order; true when one handled the event.
    template <typename Leaf, typename M>
    static bool Try([[maybe_unused]] M& machine, [[maybe_unused]] std::string_view stateName, IHsmEvent& event)
    {
        [[maybe_unused]] const std::type_info& type = typeid(event);
        return (Reactions::template TryOne<Leaf>(machine, type, stateName, event) || ...);
    }
};

// What a state without its own definition does: nothing, under no name.
struct SHsmStateDefaults {
    static constexpr std::string_view kName{};
    using Entry = HsmActions<>;
    using Exit = HsmActions<>;
    using Reactions = HsmReactions<>;
};

template <typename State>
struct SHsmStateDef : SHsmStateDefaults {};

// Logs the handling state and completes the event before any action runs, so
// a poster waiting for the completion resumes while the transition proceeds.
inline void HsmAccept(std::string_view stateName, IHsmEvent& event)
{
    TLOG_TRACE("State {}: event hndl {}", stateName, event.GetName());
    event.Complete(true);
}

template <typename M>
class TopState {
public:
    TopState() = default;
    TopState(const TopState&) = delete;
    TopState& operator=(const TopState&) = delete;
    virtual ~TopState() = default;

    // Dispatches the event to this leaf and its composites; false when unhandled.
    virtual bool HandleEvent(M& machine, IHsmEvent& event) const = 0;
    virtual std::string_view GetName() const = 0;

    static std::string_view Name() { return {}; }

protected:
    template <typename Leaf>
    static bool HandleInComposites(M&, IHsmEvent&)
    {
        return false;
    }
};

template <typename M, unsigned N, typename Parent>
class CompState : public Parent {
public:
    using Def = SHsmStateDef<CompState>;

    static constexpr unsigned kId = N;
    static std::string_view Name() { return Def::kName; }

protected:
    // The composite's reactions apply to every leaf below it that does not
    // handle the event itself.
    template <typename Leaf>
    static bool HandleInComposites(M& machine, IHsmEvent& event)
    {
        return Def::Reactions::template Try<Leaf>(machine, Name(), event) ||
               Parent::template HandleInComposites<Leaf>(machine, event);
    }
};

template <typename M, unsigned N, typename Parent>
class LeafState final : public Parent {
public:
    using Def = SHsmStateDef<LeafState>;
    using Composite = Parent;

    static constexpr unsigned kId = N;

    static const LeafState& Instance()
    {
        static const LeafState instance{};
        return instance;
    }

    static std::string_view Name() { return Def::kName; }

    bool HandleEvent(M& machine, IHsmEvent& event) const override
    {
        if (Def::Reactions::template Try<LeafState>(machine, Name(), event) ||
            Parent::template HandleInComposites<LeafState>(machine, event)) {
            return true;
        }
        TLOG_TRACE("State {}: event unhn {}", Parent::Name(), event.GetName());
        event.Complete(false);
        return false;
    }

    std::string_view GetName() const override { return Name(); }

    // Runs the entry actions in order, then makes this the current state.
    static void Enter(M& machine)
    {
        TLOG_TRACE("State {}: entry", Name());
        Def::Entry::Run(machine);
        machine.SetCurrentState(Instance());
    }

    static void Leave(M& machine)
    {
        TLOG_TRACE("State {}: exit", Name());
        Def::Exit::Run(machine);
    }

    // External transition from this leaf to Target (which may be this leaf).
    template <typename Target>
    static void TransitTo(M& machine)
    {
        Leave(machine);
        Target::Enter(machine);
    }

private:
    LeafState() = default;
};
