#pragma once
// Run-time control of a running modem simulator, for scenarios and people
// driving a simulated station: a JSON object
//   {"faults": [FAULT...], "timing": {"powerOnMs": N, "appReadyMs": N, "powerOffMs": N},
//    "event": "switch-off" | "reset" | "vanish"}
// whose faults (written as in a scenario file) are added to the active ones,
// whose timing values replace those named, and whose event the module then
// does on its own: switches itself off, resets keeping its device, or loses
// its device while it stays on. Every key is optional; any
// other key, or a value the scenario parser refuses, rejects the whole object
// and nothing changes.

#include "tools/modemsim/modemscenario.h"

#include <cstdint>
#include <string>

class CModemSimulator;

class CModemControl {
public:
    // The timing starts as the scenario's; the simulator must outlive this object.
    CModemControl(CModemSimulator& simulator, const SModemScenario& scenario);

    // Applies the object in text; on success a one-line summary of what
    // changed, otherwise false with a one-line reason in error.
    bool Apply(const std::string& text, std::string& summary, std::string& error);
    // Reads FILE (at most 64 KiB) and applies it.
    bool ApplyFile(const std::string& path, std::string& summary, std::string& error);

private:
    CModemSimulator& mSimulator;
    std::int64_t mPowerOnMs;
    std::int64_t mAppReadyMs;
    std::int64_t mPowerOffMs;
};
