#include "tools/modemsim/smsstorage.h"

#include <algorithm>

using AtText::Quote;
using AtText::ToInt;

CSmsStorage::CSmsStorage(bool textModeAtPowerOn)
    : mTextModeAtPowerOn(textModeAtPowerOn)
    , mTextMode(textModeAtPowerOn)
{
}

void CSmsStorage::Add(const SStoredSms& sms)
{
    if (mSlots.size() >= kCapacity) {
        return;
    }
    int index = 1;
    for (const auto& slot : mSlots) {
        if (slot.index != index) {
            break;
        }
        ++index;
    }
    const auto pos = std::find_if(mSlots.begin(), mSlots.end(), [index](const SSlot& s) { return s.index > index; });
    mSlots.insert(pos, {index, sms});
}

SModemAnswer CSmsStorage::Execute(const std::string& name, bool query, const std::optional<AtArgs>& args)
{
    if (name == "+CMGF") {
        if (query) {
            return SModemAnswer::Lines({std::string("+CMGF: ") + (mTextMode ? "1" : "0")});
        }
        if (!args || args->size() != 1 || !ToInt((*args)[0].text, 0, 1)) {
            return SModemAnswer::Error();
        }
        mTextMode = (*args)[0].text == "1";
        return SModemAnswer::Ok();
    }
    if (name == "+CPMS" && (query || args)) {
        return Storage(query, args ? *args : AtArgs {});
    }
    if (!args || query) {
        return SModemAnswer::Error();
    }
    // Only text mode is simulated; listing by number is PDU mode.
    if (!mTextMode) {
        return SModemAnswer::Cms(302);
    }
    if (name == "+CMGL") {
        return List(*args);
    }
    return name == "+CMGR" ? Read(*args) : Delete(*args);
}

SModemAnswer CSmsStorage::Storage(bool query, const AtArgs& args) const
{
    const std::string used = std::to_string(mSlots.size()) + "," + std::to_string(kCapacity);
    if (query) {
        return SModemAnswer::Lines({"+CPMS: \"SM\"," + used + ",\"SM\"," + used + ",\"SM\"," + used});
    }
    if (args.size() > 3) {
        return SModemAnswer::Cms(302);
    }
    std::string text = "+CPMS: ";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].text != "SM") {
            return SModemAnswer::Cms(302);
        }
        text += (i == 0 ? "" : ",") + used;
    }
    return SModemAnswer::Lines({text});
}

SModemAnswer CSmsStorage::List(const AtArgs& args)
{
    const std::string& stat = args[0].text;
    if (args.size() != 1 || !args[0].quoted || (stat != "REC UNREAD" && stat != "REC READ" && stat != "ALL")) {
        return SModemAnswer::Cms(302);
    }
    SModemAnswer answer;
    for (auto& slot : mSlots) {
        const char* state = slot.sms.read ? "REC READ" : "REC UNREAD";
        if (stat != "ALL" && stat != state) {
            continue;
        }
        answer.lines.push_back("+CMGL: " + std::to_string(slot.index) + "," + Quote(state) + "," +
                               Quote(slot.sms.from) + ",," + Quote(slot.sms.time));
        answer.lines.push_back(slot.sms.text);
        slot.sms.read = true;
    }
    return answer;
}

SModemAnswer CSmsStorage::Read(const AtArgs& args)
{
    const auto index = args.size() == 1 ? ToInt(args[0].text, 0, 999) : std::nullopt;
    if (!index) {
        return SModemAnswer::Cms(302);
    }
    for (auto& slot : mSlots) {
        if (slot.index == *index) {
            SModemAnswer answer = SModemAnswer::Lines({"+CMGR: " + Quote(slot.sms.read ? "REC READ" : "REC UNREAD") +
                                                           "," + Quote(slot.sms.from) + ",," + Quote(slot.sms.time),
                                                       slot.sms.text});
            slot.sms.read = true;
            return answer;
        }
    }
    return SModemAnswer::Cms(321); // invalid memory index
}

SModemAnswer CSmsStorage::Delete(const AtArgs& args)
{
    const auto index = ToInt(args[0].text, 0, 999);
    const auto flag = args.size() == 2 ? ToInt(args[1].text, 0, 4) : std::optional<int>(0);
    if (!index || !flag || args.size() > 2) {
        return SModemAnswer::Cms(302);
    }
    // Flag 0 deletes the given index; 1 to 3 delete by class (this storage
    // holds only received messages, so the read ones), 4 everything.
    std::erase_if(mSlots, [&](const SSlot& slot) {
        return *flag == 0 ? slot.index == *index : *flag == 4 || slot.sms.read;
    });
    return SModemAnswer::Ok();
}
