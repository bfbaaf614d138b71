#include "tools/modemsim/modemcontrol.h"

#include "tools/modemsim/modemsimulator.h"

#include <json/json.h>

#include <algorithm>
#include <array>
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
        if (key != "faults" && key != "timing" && key != "event") {
            error = "unknown key '" + key + "' (a control takes \"faults\", \"timing\" and \"event\")";
            return false;
        }
    }
    return true;
}

constexpr std::array<const char*, 3> kEvents = {"switch-off", "reset", "vanish"};

// What the module does on its own, by the name a control gives it.
void RunEvent(CModemSimulator& simulator, const std::string& event)
{
    if (event == kEvents[0]) {
        simulator.SwitchOffByItself();
    } else if (event == kEvents[1]) {
        simulator.ResetKeepingDevice();
    } else {
        simulator.VanishDevice();
    }
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
    const Json::Value event = root["event"];
    const auto known = [&event](const char* name) { return event.isString() && event.asString() == name; };
    if (!event.isNull() && std::none_of(kEvents.begin(), kEvents.end(), known)) {
        error = "unknown event (a control's \"event\" is \"switch-off\", \"reset\" or \"vanish\")";
        return false;
    }
    root.removeMember("event");
    // The scenario parser checks every fault and timing value as a scenario's.
    const auto parsed = SModemScenario::Parse(Json::writeString(Json::StreamWriterBuilder(), root), error);
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
    if (event.isString()) {
        RunEvent(mSimulator, event.asString());
        line << ", event: " << event.asString();
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
