#pragma once
// The system host name, kept in three places: the running kernel,
// /etc/hostname and /etc/hosts.

#include "src/components/system/ihostnamemanager.h"

#include <cstddef>
#include <mutex>
#include <string>

class CHostnameManager : public IHostnameManager {
public:
    // The longest host name the kernel holds.
    static constexpr std::size_t kMaxHostnameLength = 64;

    // Both paths are the documented absolute paths, resolved under the root
    // directory at every use.
    explicit CHostnameManager(std::string hostsPath = "/etc/hosts", std::string hostnamePath = "/etc/hostname");

    // The kernel's host name, whole; nothing when it cannot be read.
    std::optional<std::string> GetHostname() override;
    // Replaces the current name by name in /etc/hosts (every whole name, see
    // RenderHosts), writes /etc/hostname, then sets the kernel's name; stops
    // at the first step that fails and returns false. A name that is not a
    // valid host name (CTarvValidation::IsHostname, at most
    // kMaxHostnameLength characters) is refused before anything changes.
    // Calls are serialised.
    bool SetHostname(const std::string& name) override;

protected:
    // The kernel calls, replaceable so that tests leave the machine's name alone.
    virtual int SysGetHostname(char* buffer, std::size_t size);
    virtual int SysSetHostname(const char* name, std::size_t length);

private:
    const std::string mHostsPath;
    const std::string mHostnamePath;
    std::mutex mSetMutex; // serialises SetHostname (its file edits and the kernel call)
};
