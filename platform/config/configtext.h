#pragma once
// The text of a configuration source: one JSON object, read strictly (no
// comments, no duplicate keys, nothing after the object) and nested no
// deeper than the reader's stack limit. Shared by every reader of source
// files, so that a file one of them accepts is accepted by all.

#include <json/value.h>

#include <optional>
#include <string>
#include <string_view>

class CConfigText {
public:
    CConfigText() = delete;

    // Parses text into object. On failure returns the problem on one line:
    // positions and expectations, never values, so that a bad secrets file
    // does not leak into the log.
    static std::optional<std::string> Parse(std::string_view text, Json::Value& object);
    // The same for any JSON value (the caller checks its type).
    static std::optional<std::string> ParseValue(std::string_view text, Json::Value& value);
    // The JSON type of a value as errors name it ("string", "object"...).
    static const char* TypeName(const Json::Value& value);
};
