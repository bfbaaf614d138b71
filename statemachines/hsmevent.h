#pragma once
// One event type per (Tag, N). The tag type names the events of one machine:
// it provides `static constexpr std::string_view EventName(unsigned n)`.

#include "statemachines/ihsmevent.h"

#include <string>

template <typename Tag, unsigned N>
class CHsmEvent final : public IHsmEvent {
public:
    static constexpr unsigned kId = N;

    static const std::string& Name()
    {
        static const std::string name{Tag::EventName(N)};
        return name;
    }

    const std::string& GetName() const override { return Name(); }
};
