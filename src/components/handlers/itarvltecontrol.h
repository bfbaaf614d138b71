#pragma once
// Operations of the LTE handler beyond the common handler ones: the quick
// modem power-down the application object runs when mains power is lost, and
// the check of the modem's settings when a validation changed them.

class ITarvLteControl {
public:
    virtual ~ITarvLteControl() = default;

    virtual void FastShutdown() = 0;
    // Checks the access point name, its user, password, authentication and
    // IP type, and the SIM PIN: ok is cleared when one is refused. With
    // valid settings, a modem that stopped for good (after a refused
    // setting, say) is started again while LTE is wanted.
    virtual void UpdateModemSettings(bool& ok) = 0;
};
