#pragma once
// Owner of one interface's name servers. Two files in the resolver directory
// hold them:
//   <interface>.udhcpc  the DHCP client's, rewritten at every lease renewal;
//   <interface>.tarv    the daemon's own (static servers, or the mobile
//                       network's), never touched by the DHCP client.
// The merge script (/usr/bin/setresolv.sh) builds /etc/resolv.conf from every
// interface's files, taking <interface>.tarv in place of <interface>.udhcpc
// while it exists, so a renewal can no longer undo what the daemon set.
//
// SetDnsServers and GetDnsServers may run on different threads; they share
// only the report flag below and the files, which are replaced atomically.

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

    // Writes one "nameserver <address>" line per server, in order, to the
    // daemon's own file and runs the resolver script. Empty entries are
    // skipped; every other entry must be an IPv4 or IPv6 address, or nothing
    // is written and false returned.
    bool SetDnsServers(const std::vector<std::string>& servers) override;
    // Removes the daemon's own file and, if there was one, runs the script.
    bool ClearDnsServers() override;
    // The second word of every line whose first word is "nameserver", from
    // the file in force (the daemon's own while it exists, else the
    // lease's); nothing when the file is missing or names none.
    std::optional<std::queue<std::string>> GetDnsServers() override;
    // Runs the script that rebuilds /etc/resolv.conf; a failure is logged only.
    void UpdateSystemResolvConf() override;

    // The two files as documented paths (before root resolution).
    std::string GetOwnFilePath() const { return mDirectory + mInterfaceName + ".tarv"; }
    std::string GetLeaseFilePath() const { return mDirectory + mInterfaceName + ".udhcpc"; }

private:
    const std::string mInterfaceName;
    const std::string mDirectory;
    std::shared_ptr<IRunCommand> mRunCommand; // held for the owner, not used here
    // A missing file is logged once until the next SetDnsServers. Atomic (its
    // own guard): the status poll reads the file while SetDnsServers runs on
    // the lifecycle thread.
    std::atomic<bool> mOpenFailureReported{false};
};
