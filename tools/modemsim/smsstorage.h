#pragma once
// The SMS storage of the simulated modem's SIM: received messages with
// their read state and storage index, the message format setting, and the
// SMS commands (+CMGF, +CPMS, +CMGL, +CMGR, +CMGD) in text mode.

#include "tools/modemsim/modemanswer.h"
#include "tools/modemsim/modemscenario.h"

#include <optional>
#include <string>
#include <vector>

class CSmsStorage {
public:
    static constexpr std::size_t kCapacity = 50;

    explicit CSmsStorage(bool textModeAtPowerOn);

    // The message format is not kept over a power cycle.
    void PowerOn() { mTextMode = mTextModeAtPowerOn; }
    // Stores a received message at the lowest free index; a full storage
    // drops it, as the network keeps it then.
    void Add(const SStoredSms& sms);
    std::size_t Count() const { return mSlots.size(); }

    // name is "+CMGF", "+CPMS", "+CMGL", "+CMGR" or "+CMGD".
    SModemAnswer Execute(const std::string& name, bool query, const std::optional<AtArgs>& args);

private:
    struct SSlot {
        int index;
        SStoredSms sms;
    };

    SModemAnswer List(const AtArgs& args);
    SModemAnswer Read(const AtArgs& args);
    SModemAnswer Delete(const AtArgs& args);
    SModemAnswer Storage(bool query, const AtArgs& args) const;

    const bool mTextModeAtPowerOn;
    bool mTextMode;
    std::vector<SSlot> mSlots; // by index
};
