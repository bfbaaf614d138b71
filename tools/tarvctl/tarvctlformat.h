#pragma once
// How tarvctl shows the daemon's messages: kernel interface names, "not set"
// (text) or null (JSON) for a value the daemon has not got, never the
// placeholders the messages carry for them.

#include "proto/messages.pb.h"

#include <json/json.h>

#include <optional>
#include <string>

class CTarvCtlFormat {
public:
    CTarvCtlFormat() = delete;

    static constexpr const char* kNotSet = "not set";

    static const char* StateName(int state);
    // "eth0"...; nullopt for a number that names no interface.
    static std::optional<ipc::EIfName> InterfaceId(const std::string& name);
    static std::string InterfaceName(int id);
    // "eth0 connected ip 192.168.50.12 mask 255.255.255.0 gateway ... dns A B"
    static std::string StatusLine(const ipc::MNetStatus& status);
    static Json::Value StatusJson(const ipc::MNetStatus& status);
    static std::string OneLine(const Json::Value& value);
    // Local wall-clock time, "HH:MM:SS".
    static std::string Timestamp();
};
