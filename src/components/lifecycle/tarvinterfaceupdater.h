#pragma once
// Applies changed configuration keys to the connection handlers: one
// handler call per group of related keys (the Ethernet addressing, the DNS
// settings, the WLAN credentials, ...), however many of them changed, and an
// enable or disable for each switch key.

#include "src/components/config/itarvconfig.h"
#include "src/components/lifecycle/tarvhandlerset.h"

#include <functional>
#include <memory>
#include <vector>

class CTarvInterfaceUpdater {
public:
    // handlers is the lifecycle's set, filled before the first Apply and
    // read-only afterwards; enableAll reconfigures every interface (after
    // the installation completed).
    CTarvInterfaceUpdater(std::shared_ptr<ITarvConfig> config, const STarvHandlerSet& handlers,
                          std::function<void()> enableAll);

    // Applies each key's change with a flag of its own; ok collects them,
    // critical is set when a handler reported a critical failure.
    void Apply(const std::vector<EConfigKey>& keys, bool& ok, bool& critical) const;

    // Runs one handler's step with a fresh flag and folds its outcome into ok
    // and critical; nothing escapes. Cancelled work runs no step.
    static void RunStep(const std::function<void(bool&)>& step, bool& ok, bool& critical);

private:
    // The groups whose one call has been made in this Apply.
    struct SDone {
        bool ethProperties = false;
        bool wlanProperties = false;
        bool dns = false;
        bool wlanConnection = false;
        bool modemSettings = false;
    };

    // A key that switches an interface on or off; false for any other key.
    bool ApplySwitch(EConfigKey key, bool& ok, bool& critical) const;
    // A key of a group's settings.
    void ApplySetting(EConfigKey key, SDone& done, bool& ok, bool& critical) const;
    void EnableOrDisable(CTarvConnectionHandlerBase& handler, EConfigKey key, bool& ok) const;

    // Set once at construction.
    const std::shared_ptr<ITarvConfig> mConfig;
    const STarvHandlerSet& mHandlers;
    const std::function<void()> mEnableAll;
};
