#include "tools/modemsim/modemcontrol.h"

#include "tools/modemsim/modemsimulator.h"

#include <json/json.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

constexpr std::size_t kMaxControlBytes = 64 * 1024;

bool ParseObject(const std::string& text, Json::Value& root, std::string& error)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        error = "not JSON: " + errors.substr(0, errors.find('\n'));
        return false;
    }
    if (!root.isObject()) {
        error = "not a JSON object";
        return false;
    }
    for (const auto& key : root.getMemberNames()) {
        if (key != "faults" && key != "timing") {
            error = "unknown key '" + key + "' (a control takes \"faults\" and \"timing\")";
            return false;
        }
    }
    return true;
}

} // namespace

CModemControl::CModemControl(CModemSimulator& simulator, const SModemScenario& scenario)
    : mSimulator(simulator)
    , mPowerOnMs(scenario.powerOnMs)
    , mAppReadyMs(scenario.appReadyMs)
    , mPowerOffMs(scenario.powerOffMs)
{
}

bool CModemControl::Apply(const std::string& text, std::string& summary, std::string& error)
{
    Json::Value root;
    if (!ParseObject(text, root, error)) {
        return false;
    }
    // The scenario parser checks every fault and timing value as a scenario's.
    const auto parsed = SModemScenario::Parse(text, error);
    if (!parsed) {
        return false;
    }
    const Json::Value& timing = root["timing"];
    if (timing.isObject()) {
        mPowerOnMs = timing.isMember("powerOnMs") ? parsed->powerOnMs : mPowerOnMs;
        mAppReadyMs = timing.isMember("appReadyMs") ? parsed->appReadyMs : mAppReadyMs;
        mPowerOffMs = timing.isMember("powerOffMs") ? parsed->powerOffMs : mPowerOffMs;
        mSimulator.SetTiming(mPowerOnMs, mAppReadyMs, mPowerOffMs);
    }
    for (const auto& fault : parsed->faults) {
        mSimulator.InjectFault(fault);
    }
    std::ostringstream line;
    line << parsed->faults.size() << " fault(s) added";
    if (timing.isObject()) {
        line << ", timing: power-on " << mPowerOnMs << " ms, ready " << mAppReadyMs << " ms, power-off "
             << mPowerOffMs << " ms";
    }
    summary = line.str();
    return true;
}

bool CModemControl::ApplyFile(const std::string& path, std::string& summary, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::string text(kMaxControlBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxControlBytes) {
        error = path + " is larger than 64 KiB";
        return false;
    }
    return Apply(text, summary, error);
}
