#include "tools/tarvctl/tarvctlprinter.h"

#include "tools/tarvctl/tarvctlformat.h"

#include <ostream>


void CTarvCtlPrinter::NotifyAlive()
{
    Line("alive", Json::Value(Json::objectValue));
}

void CTarvCtlPrinter::NotifyStatus(const ipc::MNetStatus& status)
{
    Line("status " + CTarvCtlFormat::StatusLine(status), CTarvCtlFormat::StatusJson(status));
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
    json["name"] = CTarvCtlFormat::StateName(state);
    Line("state " + std::to_string(state) + " " + CTarvCtlFormat::StateName(state), json);
}

void CTarvCtlPrinter::Line(const std::string& text, Json::Value json)
{
    std::lock_guard lock(mMutex);
    if (mJson) {
        json["time"] = CTarvCtlFormat::Timestamp();
        json["event"] = text.substr(0, text.find(' '));
        mOut << CTarvCtlFormat::OneLine(json) << std::endl;
    } else {
        mOut << CTarvCtlFormat::Timestamp() << " " << text << std::endl;
    }
}
