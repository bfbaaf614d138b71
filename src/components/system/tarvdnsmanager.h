#pragma once
// Owner of one interface's resolver file (<directory><interface>.udhcpc).
// The DHCP client writes it while DNS is automatic; with static servers this
// class writes it, then has /etc/resolv.conf rebuilt from all such files.
//
// SetDnsServers and GetDnsServers may run on different threads; they share
// only the report flag below and the file, which is replaced atomically.

#include "src/components/system/iruncommand.h"
#include "src/components/system/itarvdnsmanager.h"

#include <atomic>
#include <memory>
#include <string>

class CTarvDnsManager : public ITarvDnsManager {
public:
    // directory is the documented absolute path ("/run/resolvconf/interface/"),
    // resolved under the root directory at every use.
    CTarvDnsManager(std::string interfaceName, std::string directory, std::shared_ptr<IRunCommand> runCommand);

    // Writes one "nameserver <address>" line per server, in order, and runs
    // the resolver script. Empty entries are skipped; every other entry must
    // be an IPv4 or IPv6 address, or nothing is written and false returned.
    bool SetDnsServers(const std::vector<std::string>& servers) override;
    // The values of "nameserver" keys, read as whitespace-separated
    // key/value word pairs; nothing when the file is missing or names none.
    std::optional<std::queue<std::string>> GetDnsServers() override;
    // Runs the script that rebuilds /etc/resolv.conf; a failure is logged only.
    void UpdateSystemResolvConf() override;

    // The resolver file as the documented path (before root resolution).
    std::string GetFilePath() const { return mDirectory + mInterfaceName + ".udhcpc"; }

private:
    const std::string mInterfaceName;
    const std::string mDirectory;
    std::shared_ptr<IRunCommand> mRunCommand; // held for the owner, not used here
    // A missing file is logged once until the next SetDnsServers. Atomic (its
    // own guard): the status poll reads the file while SetDnsServers runs on
    // the lifecycle thread.
    std::atomic<bool> mOpenFailureReported{false};
};
