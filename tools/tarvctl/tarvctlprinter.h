#pragma once
// What tarvctl watch prints: every notification on its own line as it
// arrives, with the local time, as text or as one JSON document per line.

#include "platform/ipc/iprocesscontrol.h"
#include "platform/ipc/itarvclient.h"

#include <json/json.h>

#include <iosfwd>
#include <mutex>
#include <string>

class CTarvCtlPrinter : public IProcessControl, public ITarvClient {
public:
    CTarvCtlPrinter(std::ostream& out, bool json) : mOut(out), mJson(json) {}

    void NotifyState(const ipc::MState& state) override { State(state.state()); }
    void NotifyAlive() override;
    void NotifyStatus(const ipc::MNetStatus& status) override;
    void NotifyFloat(float value) override;
    void State(int state);

private:
    void Line(const std::string& text, Json::Value json);

    std::mutex mMutex; // guards mOut
    std::ostream& mOut;
    const bool mJson;
};
