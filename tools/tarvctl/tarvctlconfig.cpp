#include "tools/tarvctl/tarvctlconfig.h"

#include "platform/toolbox/atomicfile.h"
#include "platform/toolbox/uniquefd.h"
#include "src/components/config/tarvconfig.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array<const char*, 4> kSources{"hwinfo", "network", "secrets", "settings"};
// The daemon refuses larger sources.
constexpr std::size_t kMaxFileSize = 1024 * 1024;

const SConfigKeyInfo* FindKey(const std::string& source, const std::string& key)
{
    for (const auto& [id, info] : CTarvConfig::KeyTable()) {
        if (info.name == key && source == kSources.at(static_cast<std::size_t>(info.source))) {
            return &info;
        }
    }
    return nullptr;
}

Json::Value DefaultOf(const SConfigKeyInfo& info)
{
    return info.defaultValue.index() == 0 ? Json::Value(std::get<bool>(info.defaultValue))
                                          : Json::Value(std::get<std::string>(info.defaultValue));
}

// jsoncpp's "* Line 3, Column 1\n  Missing '}' ..." as "line 3, column 1: Missing '}' ...".
std::string OneLine(std::string errors)
{
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"* Line ", "line "}, {", Column ", ", column "},
                                   {"\n  ", ": "}, {"\n", " "}}) {
        for (auto at = errors.find(from); at != std::string::npos; at = errors.find(from, at + to.size())) {
            errors.replace(at, from.size(), to);
        }
    }
    const auto last = errors.find_last_not_of(' ');
    return last == std::string::npos ? std::string() : errors.substr(0, last + 1);
}

bool IsUtf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size() || (length == 2 && c < 0xC2)) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::string Encode(const Json::Value& value)
{
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    writer["emitUTF8"] = true;
    return Json::writeString(writer, value);
}

} // namespace

bool CTarvCtlConfig::IsSecret(const std::string& source, const std::string& key)
{
    return source == "secrets" || key == Tarv::kWlanApPasswordKey || key == Tarv::kWlanStaPasswordKey ||
           key == Tarv::kLteApnPassKey || key == Tarv::kSmsPasswordKey;
}

std::string CTarvCtlConfig::Path(const std::string& source) const
{
    for (const char* known : kSources) {
        if (source == known) {
            return mRoot + "etc/config/" + source + ".json";
        }
    }
    throw std::runtime_error("unknown configuration source '" + source + "' (hwinfo, network, secrets, settings)");
}

std::string CTarvCtlConfig::ReadText(const std::string& path, bool& exists) const
{
    // Without O_NONBLOCK a FIFO in the file's place would block for ever.
    const CUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    const int fd = file.Get();
    exists = fd >= 0 || (errno != ENOENT && errno != ENOTDIR);
    if (fd < 0) {
        if (!exists) {
            return {};
        }
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        throw std::runtime_error(path + " is not a regular file");
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
        }
        if (n == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileSize) {
            throw std::runtime_error(path + " is larger than 1 MiB");
        }
    }
}

Json::Value CTarvCtlConfig::Parse(const std::string& path, const std::string& text)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value value;
    std::string errors;
    bool parsed = false;
    try {
        parsed = reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    } catch (const std::exception& e) {
        errors = e.what(); // nesting beyond the parser's limit
    }
    if (!parsed) {
        throw std::runtime_error(path + " is not valid JSON: " + OneLine(errors));
    }
    if (!value.isObject()) {
        throw std::runtime_error(path + " holds a JSON " + (value.isArray() ? "array" : "value") +
                                 ", not an object");
    }
    return value;
}

Json::Value CTarvCtlConfig::Read(const std::string& source) const
{
    const std::string path = Path(source);
    bool exists = false;
    const std::string text = ReadText(path, exists);
    return exists ? Parse(path, text) : Json::Value(Json::objectValue);
}

Json::Value CTarvCtlConfig::Get(const std::string& source, const std::string& key) const
{
    const Json::Value content = Read(source);
    if (content.isMember(key)) {
        return content[key];
    }
    if (const SConfigKeyInfo* info = FindKey(source, key)) {
        return DefaultOf(*info); // not in the file: the daemon uses the default
    }
    throw std::runtime_error("no key '" + key + "' in " + source);
}

void CTarvCtlConfig::Set(const std::string& source, const std::string& key, const std::string& value) const
{
    if (source == "hwinfo") {
        throw std::runtime_error("hwinfo is read-only");
    }
    const std::string path = Path(source);
    const SConfigKeyInfo* info = FindKey(source, key);
    if (!info) {
        throw std::runtime_error("no key '" + key + "' in " + source);
    }
    Json::Value newValue;
    if (info->defaultValue.index() == 0) {
        if (value != "true" && value != "false") {
            throw std::runtime_error(key + " takes true or false");
        }
        newValue = value == "true";
    } else if (!IsUtf8(value)) {
        throw std::runtime_error("the value of " + key + " is not valid UTF-8");
    } else {
        newValue = value;
    }
    bool exists = false;
    std::string text = ReadText(path, exists);
    if (!exists) {
        text = "{\n}\n";
    }
    const Json::Value content = Parse(path, text);
    // Only the member's own text changes: every other byte, including
    // values jsoncpp would write differently, stays as it was.
    const std::string encoded = Encode(newValue);
    if (content.isMember(key)) {
        const Json::Value& old = content[key];
        text.replace(static_cast<std::size_t>(old.getOffsetStart()),
                     static_cast<std::size_t>(old.getOffsetLimit() - old.getOffsetStart()), encoded);
    } else {
        std::ptrdiff_t last = -1;
        for (const std::string& name : content.getMemberNames()) {
            last = std::max(last, content[name].getOffsetLimit());
        }
        const std::string member = Encode(Json::Value(key)) + ": " + encoded;
        if (last >= 0) {
            text.insert(static_cast<std::size_t>(last), ",\n  " + member);
        } else {
            text.replace(static_cast<std::size_t>(content.getOffsetStart()),
                         static_cast<std::size_t>(content.getOffsetLimit() - content.getOffsetStart()),
                         "{\n  " + member + "\n}");
        }
    }
    if (Parse(path, text)[key] != newValue) {
        throw std::runtime_error("cannot change " + key + " in " + path + " (not changed)");
    }
    const bool secret = IsSecret(source, key);
    // An existing file keeps its mode through the replacement: a secret's
    // file is made owner-only before the secret is written.
    if (exists && (secret || source == "secrets") && ::chmod(path.c_str(), CAtomicFile::kSecretFileMode) != 0) {
        throw std::runtime_error("cannot make " + path + " owner-only: " + std::strerror(errno));
    }
    const mode_t mode = secret ? CAtomicFile::kSecretFileMode : CAtomicFile::kDefaultNewFileMode;
    if (!CAtomicFile::Replace(path, text, mode)) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<CTarvCtlConfig::SKeyRow> CTarvCtlConfig::List(const std::string& source) const
{
    std::vector<SKeyRow> rows;
    for (const char* known : kSources) {
        if (!source.empty() && source != known) {
            continue;
        }
        const Json::Value content = Read(known);
        for (const auto& [id, info] : CTarvConfig::KeyTable()) {
            if (kSources.at(static_cast<std::size_t>(info.source)) == std::string(known)) {
                rows.push_back({known, info.name, info.defaultValue.index() == 0 ? "boolean" : "string",
                                DefaultOf(info), content.get(info.name, Json::Value()),
                                IsSecret(known, info.name)});
            }
        }
        for (const std::string& key : content.getMemberNames()) {
            if (!FindKey(known, key)) {
                rows.push_back({known, key, "unknown", Json::Value(), content[key], IsSecret(known, key)});
            }
        }
    }
    if (rows.empty() && !source.empty()) {
        Path(source); // throws for an unknown source
    }
    return rows;
}

Json::Value CTarvCtlConfig::MaskedSnapshot() const
{
    Json::Value snapshot(Json::objectValue);
    for (const char* source : kSources) {
        try {
            Json::Value content = Read(source);
            for (const std::string& key : content.getMemberNames()) {
                if (IsSecret(source, key)) {
                    content[key] = kMask;
                }
            }
            snapshot[source] = content;
        } catch (const std::exception& e) {
            snapshot[source]["error"] = e.what();
        }
    }
    return snapshot;
}
