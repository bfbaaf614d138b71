#include "tools/modemsim/modemsettings.h"

namespace {

using AtText::IsDigits;
using AtText::Quote;
using AtText::ToInt;

bool IsHexMask(const std::string& text)
{
    return text.size() > 2 && text.size() <= 18 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) &&
           text.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos;
}

} // namespace

CModemSettings::CModemSettings(const SModemScenario& scenario)
    : mEcm(scenario.ecm)
    , mBands(scenario.bands)
    , mScanSequence(scenario.scanSequence)
    , mIotMode(scenario.iotMode)
    , mSimEffect(scenario.simEffect)
    , mFastShutdown(scenario.fastShutdown)
{
}

SModemAnswer CModemSettings::Qcfgext(const AtArgs& args)
{
    if (args[0].text != "usbnet") {
        return kError;
    }
    if (args.size() == 1) {
        return SModemAnswer::Lines({"+QCFGEXT: \"usbnet\"," + Quote(mEcm ? "ecm" : "rmnet")});
    }
    if (args.size() != 2 || (args[1].text != "ecm" && args[1].text != "rmnet")) {
        return kError;
    }
    mEcm = args[1].text == "ecm";
    return kOk;
}

SModemAnswer CModemSettings::Qcfg(const AtArgs& args)
{
    const std::string& item = args[0].text;
    const bool queryForm = args.size() == 1;
    auto answer = [&item](const std::string& values) {
        return SModemAnswer::Lines({"+QCFG: " + Quote(item) + "," + values});
    };
    // Set forms may carry a trailing "take effect now" flag (0 or 1).
    auto effectOk = [&args](std::size_t valueCount) {
        return args.size() == 1 + valueCount ||
               (args.size() == 2 + valueCount && ToInt(args[1 + valueCount].text, 0, 1));
    };
    if (item == "nwscanseq") {
        if (queryForm) {
            return answer(mScanSequence);
        }
        const std::string& seq = args[1].text;
        if (!effectOk(1) || seq.empty() || seq.size() % 2 != 0 || !IsDigits(seq, 2, 8)) {
            return kError;
        }
        for (std::size_t i = 0; i < seq.size(); i += 2) {
            if (!ToInt(seq.substr(i, 2), 0, 3)) {
                return kError;
            }
        }
        mScanSequence = seq;
        return kOk;
    }
    if (item == "iotopmode") {
        if (queryForm) {
            return answer(std::to_string(mIotMode));
        }
        const auto mode = ToInt(args[1].text, 0, 2);
        if (!effectOk(1) || !mode) {
            return kError;
        }
        mIotMode = *mode;
        return kOk;
    }
    if (item == "band") {
        if (queryForm) {
            return answer(mBands[0] + "," + mBands[1] + "," + mBands[2]);
        }
        if (!effectOk(3) || !IsHexMask(args[1].text) || !IsHexMask(args[2].text) || !IsHexMask(args[3].text)) {
            return kError;
        }
        mBands = {args[1].text, args[2].text, args[3].text};
        return kOk;
    }
    if (item == "fast/poweroff") {
        if (queryForm) {
            return answer(std::string("25,") + (mFastShutdown ? "1" : "0"));
        }
        if (args.size() != 3 || !ToInt(args[1].text, 0, 99) || !ToInt(args[2].text, 0, 1)) {
            return kError;
        }
        mFastShutdown = args[2].text == "1";
        return kOk;
    }
    if (item == "simeffect") {
        if (queryForm) {
            return answer(std::to_string(mSimEffect));
        }
        const auto value = ToInt(args[1].text, 0, 1);
        if (args.size() != 2 || !value) {
            return kError;
        }
        mSimEffect = *value;
        return kOk;
    }
    return kError;
}
