#pragma once
// Reads and writes sysfs attribute files. Paths are the absolute sysfs
// paths ("/sys/class/gpio/export") and are resolved under the root
// directory. Failures are logged with the path and the reason.

#include <optional>
#include <string>

class CSysfsAccess {
public:
    // Largest attribute value read; sysfs attributes are at most one page.
    static constexpr std::size_t kMaxValueBytes = 64 * 1024;

    CSysfsAccess() = default;
    virtual ~CSysfsAccess() = default;
    CSysfsAccess(const CSysfsAccess&) = delete;
    CSysfsAccess& operator=(const CSysfsAccess&) = delete;

    // Writes the value with a single write() to the existing attribute
    // (the file is never created). True when all of it was accepted.
    virtual bool Write(const std::string& path, const std::string& value);
    // The attribute's content without trailing white space (sysfs ends
    // values with a newline); nullopt when it cannot be read.
    virtual std::optional<std::string> Read(const std::string& path);
    // Whether the path (file or directory) exists under the root directory.
    virtual bool Exists(const std::string& path);
};
