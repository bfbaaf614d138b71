#include "tools/tarvctl/tarvctlconfig.h"

#include "platform/toolbox/atomicfile.h"
#include "src/components/config/tarvconfig.h"

#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr std::array<const char*, 4> kSources{"hwinfo", "network", "secrets", "settings"};

const SConfigKeyInfo* FindKey(const std::string& source, const std::string& key)
{
    for (const auto& [id, info] : CTarvConfig::KeyTable()) {
        if (info.name == key && source == kSources.at(static_cast<std::size_t>(info.source))) {
            return &info;
        }
    }
    return nullptr;
}

bool IsSecret(const std::string& source, const std::string& key)
{
    return source == "secrets" || key == Tarv::kWlanApPasswordKey || key == Tarv::kWlanStaPasswordKey ||
           key == Tarv::kLteApnPassKey || key == Tarv::kSmsPasswordKey;
}

} // namespace

std::string CTarvCtlConfig::Path(const std::string& source) const
{
    for (const char* known : kSources) {
        if (source == known) {
            return mRoot + "etc/config/" + source + ".json";
        }
    }
    throw std::runtime_error("unknown configuration source '" + source + "' (hwinfo, network, secrets, settings)");
}

Json::Value CTarvCtlConfig::Read(const std::string& source) const
{
    const std::string path = Path(source);
    std::ifstream file(path);
    if (!file.is_open()) {
        return Json::Value(Json::objectValue);
    }
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    if (!Json::parseFromStream(builder, file, &value, &errors) || !value.isObject()) {
        throw std::runtime_error(path + " is not a JSON object");
    }
    return value;
}

Json::Value CTarvCtlConfig::Get(const std::string& source, const std::string& key) const
{
    const Json::Value content = Read(source);
    if (content.isMember(key)) {
        return content[key];
    }
    if (const SConfigKeyInfo* info = FindKey(source, key)) {
        // Not in the file: the daemon uses the default.
        return info->defaultValue.index() == 0 ? Json::Value(std::get<bool>(info->defaultValue))
                                               : Json::Value(std::get<std::string>(info->defaultValue));
    }
    throw std::runtime_error("no key '" + key + "' in " + source);
}

void CTarvCtlConfig::Set(const std::string& source, const std::string& key, const std::string& value) const
{
    if (source == "hwinfo") {
        throw std::runtime_error("hwinfo is read-only");
    }
    const SConfigKeyInfo* info = FindKey(source, key);
    if (!info) {
        throw std::runtime_error("no key '" + key + "' in " + source);
    }
    Json::Value content = Read(source);
    if (info->defaultValue.index() == 0) {
        if (value != "true" && value != "false") {
            throw std::runtime_error(key + " takes true or false");
        }
        content[key] = value == "true";
    } else {
        content[key] = value;
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    const mode_t mode = source == "secrets" ? CAtomicFile::kSecretFileMode : CAtomicFile::kDefaultNewFileMode;
    if (!CAtomicFile::Replace(Path(source), Json::writeString(writer, content) + "\n", mode)) {
        throw std::runtime_error("cannot write " + Path(source));
    }
}

Json::Value CTarvCtlConfig::MaskedSnapshot() const
{
    Json::Value snapshot(Json::objectValue);
    for (const char* source : kSources) {
        Json::Value content = Read(source);
        for (const std::string& key : content.getMemberNames()) {
            if (IsSecret(source, key)) {
                content[key] = kMask;
            }
        }
        snapshot[source] = content;
    }
    return snapshot;
}
