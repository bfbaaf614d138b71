#pragma once
#include "platform/worker/iclock.h"

// std::chrono::steady_clock behind IClock.
class CSteadyClock final : public IClock {
public:
    time_point Now() const override;
    void SleepFor(duration d) override;
    bool IsRealTime() const override { return true; }
    int AddListener(Listener) override { return 0; }
    void RemoveListener(int) override {}
};
