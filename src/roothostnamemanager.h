#pragma once
// The host name manager of a daemon started with a root directory other
// than "/" (a sandbox, a test, a copy of an image): the name lives in the
// root's /etc/hostname and /etc/hosts only. The kernel's host name belongs
// to the machine the daemon happens to run on and is never changed.

#include "src/components/system/hostnamemanager.h"

#include <atomic>
#include <cstddef>

class CRootHostnameManager : public CHostnameManager {
public:
    using CHostnameManager::CHostnameManager;

protected:
    // The name as the root's /etc/hostname holds it (its first line);
    // empty when the file is missing.
    int SysGetHostname(char* buffer, std::size_t size) override;
    // Leaves the machine's name alone, saying so once.
    int SysSetHostname(const char* name, std::size_t length) override;

private:
    std::atomic<bool> mToldOnce{false};
};
