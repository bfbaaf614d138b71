#pragma once
// Operations of the Ethernet handler beyond the common handler ones, used by
// the lifecycle actions when the wired configuration changes.

class ITarvEthControl {
public:
    virtual ~ITarvEthControl() = default;

    // Writes the eth0 stanza from the configuration and restarts the interface.
    // ok is set true by the caller and only ever cleared here.
    virtual void SetIfProperties(bool& ok) = 0;
    // Renews the DHCP lease (automatic DNS) or writes the static servers.
    virtual void SetDns(bool& ok) = 0;
};
