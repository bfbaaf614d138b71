#include "tools/tarvctl/tarvctlprinter.h"

#include "tools/tarvctl/tarvctlformat.h"

#include <ostream>

using Format = CTarvCtlFormat;

void CTarvCtlPrinter::NotifyAlive()
{
    Line("alive", Json::Value(Json::objectValue));
}

void CTarvCtlPrinter::NotifyStatus(const ipc::MNetStatus& status)
{
    Line("status " + Format::StatusLine(status), Format::StatusJson(status));
}

void CTarvCtlPrinter::NotifyFloat(float value)
{
    Json::Value json;
    json["value"] = value;
    Line("value " + std::to_string(value), json);
}

void CTarvCtlPrinter::State(int state)
{
    Json::Value json;
    json["state"] = state;
    json["name"] = Format::StateName(state);
    Line("state " + std::to_string(state) + " " + Format::StateName(state), json);
}

void CTarvCtlPrinter::Line(const std::string& text, Json::Value json)
{
    std::lock_guard lock(mMutex);
    if (mJson) {
        json["time"] = Format::Timestamp();
        json["event"] = text.substr(0, text.find(' '));
        mOut << Format::OneLine(json) << std::endl;
    } else {
        mOut << Format::Timestamp() << " " << text << std::endl;
    }
}
