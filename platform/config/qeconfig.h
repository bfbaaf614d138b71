#pragma once
// Configuration sources: one JSON object file per source,
// <root>etc/config/<source>.json, keys at top level, values JSON booleans or
// strings. Reads are typed and cached; a file is parsed again only after it
// changed. Changes made by other processes are noticed through inotify and
// reported to listeners once per key whose value changed.

#include <json/value.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace QeConfig {

// A stored value has another JSON type than the one asked for.
class CTypeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A source file exists but cannot be read or parsed as a JSON object.
class CInvalidConfig : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using ErrorCallback = std::function<void(const std::string& message)>;
using ChangeCallback = std::function<void(const std::string& key, const Json::Value& value)>;

class IReadOnlyConfig {
public:
    virtual ~IReadOnlyConfig() = default;
    // The stored value, or defaultValue when the source does not hold the key
    // (a missing file is an empty source; a stored null counts as absent).
    // Throws CTypeError for a value of another type and CInvalidConfig for
    // an unreadable file.
    virtual bool GetBool(const std::string& key, bool defaultValue) const = 0;
    virtual std::string GetString(const std::string& key, const std::string& defaultValue) const = 0;
    virtual const std::string& GetSource() const = 0;
    // Whether the source has a file (false: a file missing at start, which
    // reads as an empty source).
    virtual bool HasFile() const = 0;
};

class IConfig : public IReadOnlyConfig {
public:
    // Replaces the file atomically with the key set to value (a null value
    // removes the key); listeners of this process are called as for any
    // other change.
    virtual void SetValue(const std::string& key, const Json::Value& value) = 0;
    // Calls callback (key, new value) once per changed key whenever the file
    // changes; a removed key is reported with a null value. filter limits
    // the calls to keys starting with it (empty: every key). A second
    // registration under the same name replaces the first.
    virtual void RegisterListener(const std::string& listenerName, const std::string& filter,
                                  ChangeCallback callback) = 0;
    virtual void UnregisterListener(const std::string& listenerName) = 0;
};

// Opens a writable source. errorCallback receives a message whenever the
// file cannot be read (once per distinct bad content, possibly during Create
// and on the watcher thread); changeCallback, when given, is registered as
// the listener named "".
std::shared_ptr<IConfig> Create(const std::string& source, ErrorCallback errorCallback = {},
                                ChangeCallback changeCallback = {});
// Returns once the changes that other processes made to any source before
// this call have reached the caches and the listeners (change delivery is
// otherwise asynchronous, a few milliseconds after the file was replaced).
// Useful before acting on a request that says "the configuration changed".
// Returns at once when called from a listener.
void SyncChanges();

// Opens a read-only source (the flag is accepted for compatibility and must be true).
std::shared_ptr<IReadOnlyConfig> CreateReadOnly(const std::string& source, ErrorCallback errorCallback,
                                                bool readOnly = true);

} // namespace QeConfig
