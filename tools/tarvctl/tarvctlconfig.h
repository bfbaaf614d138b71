#pragma once
// The daemon's configuration files as tarvctl reads and writes them: one
// JSON object per source under <root>etc/config/. A file is read as strictly
// as the daemon reads it; a write changes the text of one member only and
// replaces the file atomically (the daemon's watcher picks the change up).

#include <json/json.h>

#include <string>
#include <vector>

class CTarvCtlConfig {
public:
    static constexpr const char* kMask = "********";

    // One key as `config list` shows it.
    struct SKeyRow {
        std::string source;
        std::string key;
        std::string type;       // "boolean", "string", or "unknown" for a key tarv does not know
        Json::Value defaultValue; // null for an unknown key
        Json::Value value;      // null when the file does not set it (the default applies)
        bool secret = false;
    };

    explicit CTarvCtlConfig(std::string root) : mRoot(std::move(root)) {}

    // Each throws std::runtime_error with a one-line reason naming the file.
    Json::Value Get(const std::string& source, const std::string& key) const;
    // The value is stored as a JSON boolean for a boolean key ("true" or
    // "false"), as a string for a string key. Only known keys of the
    // writable sources (settings, secrets, network) are accepted, and only
    // in a file the daemon would read; every other byte of it stays as it
    // was. A file holding a secret is 0600 before the new content reaches it.
    void Set(const std::string& source, const std::string& key, const std::string& value) const;
    // Every known key of the source (all sources when empty), then the keys
    // the file holds that tarv does not know; secrets are not masked here.
    std::vector<SKeyRow> List(const std::string& source) const;
    // Every source's content; secrets replaced by kMask. A source that cannot
    // be read holds {"error": reason}.
    Json::Value MaskedSnapshot() const;
    // Whether tarv treats the key's value as a secret.
    static bool IsSecret(const std::string& source, const std::string& key);

private:
    std::string Path(const std::string& source) const;
    // The file's text; exists is false (and the text empty) when there is none.
    std::string ReadText(const std::string& path, bool& exists) const;
    // Strict parse of a source's text; offsets kept for Set.
    static Json::Value Parse(const std::string& path, const std::string& text);
    Json::Value Read(const std::string& source) const;

    std::string mRoot;
};
