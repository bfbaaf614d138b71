#pragma once
// The daemon's configuration files as tarvctl reads and writes them: one
// JSON object per source under <root>etc/config/. Writes replace the file
// atomically; the daemon's watcher picks the change up.

#include <json/json.h>

#include <string>

class CTarvCtlConfig {
public:
    static constexpr const char* kMask = "********";

    explicit CTarvCtlConfig(std::string root) : mRoot(std::move(root)) {}

    // Each throws std::runtime_error with a one-line reason.
    Json::Value Get(const std::string& source, const std::string& key) const;
    // The value is stored as a JSON boolean for a boolean key ("true" or
    // "false"), as a string for a string key. Only known keys of the
    // writable sources (settings, secrets, network) are accepted.
    void Set(const std::string& source, const std::string& key, const std::string& value) const;
    // Every source's content; every value of the secrets source, and of any
    // other key the daemon treats as a secret, replaced by kMask.
    Json::Value MaskedSnapshot() const;

private:
    std::string Path(const std::string& source) const;
    // The file's object; an empty object when the file does not exist.
    Json::Value Read(const std::string& source) const;

    std::string mRoot;
};
