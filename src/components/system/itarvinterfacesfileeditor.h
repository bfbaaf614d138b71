#pragma once
// Owner of /etc/network/interfaces: one stanza per interface, the whole file
// regenerated on every write.

#include <string>

class ITarvInterfacesFileEditor {
public:
    virtual ~ITarvInterfacesFileEditor() = default;
    virtual void InitializeFile(const std::string& hostname) = 0;
    virtual void SetInterfacesFile(bool& ok) = 0;
    virtual void SetAsDhcp(const std::string& interfaceName, const std::string& hostname, bool& ok) = 0;
    virtual void SetAsStaticIpv4(const std::string& interfaceName, const std::string& hostname,
                                 const std::string& address, const std::string& netmask, bool& ok,
                                 const std::string& gateway) = 0;
    virtual void SetAsStaticIpv6(const std::string& interfaceName, const std::string& address,
                                 const std::string& netmask, bool& ok) = 0;
};
