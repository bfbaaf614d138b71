#include "platform/config/configtext.h"

#include <json/reader.h>

#include <algorithm>
#include <exception>
#include <memory>

namespace {

std::string OneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

} // namespace

std::optional<std::string> CConfigText::ParseValue(std::string_view text, Json::Value& value)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    bool parsed = false;
    try {
        parsed = reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    } catch (const std::exception& e) {
        // The reader throws for nesting deeper than its stack limit.
        errors = e.what();
    }
    if (!parsed) {
        return OneLine(errors);
    }
    return std::nullopt;
}

std::optional<std::string> CConfigText::Parse(std::string_view text, Json::Value& object)
{
    Json::Value root;
    if (auto error = ParseValue(text, root)) {
        return error;
    }
    if (!root.isObject()) {
        return std::string("the content is a JSON ") + CConfigText::TypeName(root) + ", not an object";
    }
    object = std::move(root);
    return std::nullopt;
}

const char* CConfigText::TypeName(const Json::Value& value)
{
    switch (value.type()) {
    case Json::nullValue: return "null";
    case Json::intValue: return "integer";
    case Json::uintValue: return "unsigned integer";
    case Json::realValue: return "real number";
    case Json::stringValue: return "string";
    case Json::booleanValue: return "boolean";
    case Json::arrayValue: return "array";
    case Json::objectValue: return "object";
    }
    return "unknown";
}
