#pragma once
// Owner of /etc/network/interfaces. The settings of each interface are kept
// in memory; every write renders the whole file from them
// (RenderInterfacesFile) and replaces it.
//
// Host names, addresses, netmasks and gateways are checked before they go
// into a stanza: ifup executes parts of this file as root, so a value with a
// line break or a stray word must never reach it.
//
// No lock: callers must not overlap calls (the lifecycle actions and the
// handlers they drive run one at a time).

#include "src/components/system/iruncommand.h"
#include "src/components/config/itarvconfig.h"
#include "src/components/system/itarvinterfacesfileeditor.h"
#include "src/components/system/systemfilerender.h"

#include <memory>
#include <string>

class CTarvInterfacesFileEditor : public ITarvInterfacesFileEditor {
public:
    // filePath is the documented absolute path ("/etc/network/interfaces"),
    // resolved under the root directory at every write.
    CTarvInterfacesFileEditor(std::shared_ptr<IRunCommand> runCommand, std::shared_ptr<ITarvConfig> config,
                              std::string filePath);

    // Fills the stanzas from the configuration and writes the file. Throws
    // CTarvException when WLAN hardware is absent or the file cannot be
    // written. An interface whose configured values are refused keeps its
    // previous stanza (empty at start-up); the others are still written, so
    // the station stays reachable through them, and then CTarvException is
    // thrown: the file is not the configured one.
    void InitializeFile(const std::string& hostname) override;
    void SetInterfacesFile(bool& ok) override;
    void SetAsDhcp(const std::string& interfaceName, const std::string& hostname, bool& ok) override;
    void SetAsStaticIpv4(const std::string& interfaceName, const std::string& hostname, const std::string& address,
                         const std::string& netmask, bool& ok, const std::string& gateway) override;
    void SetAsStaticIpv6(const std::string& interfaceName, const std::string& address, const std::string& netmask,
                         bool& ok) override;

private:
    // The settings of an interface that accepts IPv4 settings; for others
    // a warning, ok cleared and null.
    std::optional<SIpv4Stanza>* Ipv4Stanza(const std::string& interfaceName, bool& ok);

    std::shared_ptr<IRunCommand> mRunCommand; // held for the owner, not used here
    std::shared_ptr<ITarvConfig> mConfig;
    SInterfacesFile mFile; // what the next write renders
    const std::string mFilePath;
};
