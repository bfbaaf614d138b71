#pragma once
// The simulated modem's stored configuration that +QCFG and +QCFGEXT read
// and change: network scan sequence, IoT operating mode, band masks, fast
// power-off, SIM effect and the USB network mode. It lives across power
// cycles, as the modem keeps it in its non-volatile memory.

#include "tools/modemsim/modemanswer.h"
#include "tools/modemsim/modemscenario.h"

#include <string>
#include <vector>

class CModemSettings {
public:
    explicit CModemSettings(const SModemScenario& scenario);

    // AT+QCFG="item"[,values...]: the query form answers the item's values,
    // the set form checks and stores them.
    SModemAnswer Qcfg(const AtArgs& args);
    // AT+QCFGEXT="usbnet"[,"ecm"|"rmnet"].
    SModemAnswer Qcfgext(const AtArgs& args);

    bool FastShutdownEnabled() const { return mFastShutdown; }

private:
    bool mEcm;
    std::vector<std::string> mBands;
    std::string mScanSequence;
    int mIotMode;
    int mSimEffect;
    bool mFastShutdown;
};
