#include "src/components/system/tarvinterfacesfileeditor.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/ipc/diagnosticssignal.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/tarvvalidation.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/tarvexception.h"
#include "src/components/system/tarvfileutilities.h"

#include <tuple>

namespace {

using V = CTarvValidation;

// Logs a refused value (escaped, it may hold line breaks) with the rule it
// breaks, and clears ok.
bool Accept(bool valid, const char* kind, const char* rule, const std::string& value,
            const std::string& interfaceName, bool& ok)
{
    if (!valid) {
        TLOG_ERROR("Invalid {} '{}' for {} ({}), interface settings not changed", kind,
                   CTarvValidation::Printable(value), interfaceName, rule);
        ok = false;
    }
    return valid;
}

} // namespace

CTarvInterfacesFileEditor::CTarvInterfacesFileEditor(std::shared_ptr<IRunCommand> runCommand,
                                                     std::shared_ptr<ITarvConfig> config, std::string filePath)
    : mRunCommand(std::move(runCommand)), mConfig(std::move(config)), mFilePath(std::move(filePath))
{
}

void CTarvInterfacesFileEditor::InitializeFile(const std::string& hostname)
{
    TLOG_FUNCTION();
    if (!mConfig->GetBool(HwHasWlan)) {
        TLOG_ERROR("Wlan is always required");
        throw CTarvException();
    }

    // Each interface gets a flag of its own: a refused configuration of one
    // interface must not keep the others (and the commissioning access
    // point) out of the file.
    bool wlanOk = true;
    if (!mConfig->GetBool(TarvWlanDhcpEnable)) {
        SetAsStaticIpv4(Tarv::kWlan0, hostname, mConfig->GetString(TarvWlanIpv4Addr),
                        mConfig->GetString(TarvWlanIpv4Netmask), wlanOk, "");
    } else {
        SetAsDhcp(Tarv::kWlan0, hostname, wlanOk);
    }

    bool ethOk = true;
    if (mConfig->GetBool(HwHasEthernet)) {
        if (!mConfig->GetBool(TarvEthDhcpEnable)) {
            SetAsStaticIpv4(Tarv::kEth0, hostname, mConfig->GetString(TarvEthIpv4Addr),
                            mConfig->GetString(TarvEthIpv4Netmask), ethOk, mConfig->GetString(TarvEthGatewayAddr));
        } else {
            SetAsDhcp(Tarv::kEth0, hostname, ethOk);
        }
    }

    if (mConfig->GetBool(HwHasLte)) {
        mFile.lte0 = true;
    }

    // A refused value costs only its interface: it is left unconfigured (no
    // older stanza stays behind), the others are written, and the refusal is
    // reported without failing the initialisation.
    for (const auto& [refused, interfaceName, stanza] :
         {std::tuple{!wlanOk, &Tarv::kWlan0, &mFile.wlan0}, std::tuple{!ethOk, &Tarv::kEth0, &mFile.eth0}}) {
        if (refused) {
            stanza->reset();
            TLOG_ERROR("{} written without the configured {} settings, {} left unconfigured", mFilePath,
                       *interfaceName, *interfaceName);
            CDiagnosticsSignal<bool>(&Signals::kInvalidConfigValueError).Send(true);
        }
    }
    bool ok = true;
    SetInterfacesFile(ok);
}

void CTarvInterfacesFileEditor::SetInterfacesFile(bool& ok)
{
    TLOG_FUNCTION();
    if (!ok) {
        return;
    }
    const std::string path = CRootDir::Resolve(mFilePath);
    if (!WriteToFile(path, RenderInterfacesFile(mFile))) {
        TLOG_ERROR("{} could not be modified", path);
        throw CTarvException();
    }
}

void CTarvInterfacesFileEditor::SetAsDhcp(const std::string& interfaceName, const std::string& hostname, bool& ok)
{
    TLOG_FUNCTION();
    std::optional<SIpv4Stanza>* stanza = Ipv4Stanza(interfaceName, ok);
    if (stanza == nullptr) {
        return;
    }
    if (!Accept(V::IsHostname(hostname), "hostname", V::kHostnameRule, hostname, interfaceName, ok)) {
        return;
    }
    *stanza = SIpv4Stanza{.dhcp = true, .hostname = hostname, .address = {}, .netmask = {}, .gateway = {}};
}

void CTarvInterfacesFileEditor::SetAsStaticIpv4(const std::string& interfaceName, const std::string& hostname,
                                                const std::string& address, const std::string& netmask, bool& ok,
                                                const std::string& gateway)
{
    TLOG_FUNCTION();
    std::optional<SIpv4Stanza>* stanza = Ipv4Stanza(interfaceName, ok);
    if (stanza == nullptr) {
        return;
    }
    // Only Ethernet takes a default route; "0.0.0.0" is no gateway.
    const bool isEthernet = interfaceName == Tarv::kEth0;
    const bool withGateway = isEthernet && !gateway.empty() && gateway != "0.0.0.0";
    if (!Accept(V::IsHostname(hostname), "hostname", V::kHostnameRule, hostname, interfaceName, ok) ||
        !Accept(V::IsIpv4HostAddress(address), "IPv4 address", V::kIpv4HostAddressRule, address, interfaceName, ok) ||
        !Accept(V::IsIpv4Netmask(netmask), "IPv4 netmask", V::kIpv4NetmaskRule, netmask, interfaceName, ok) ||
        (withGateway &&
         !Accept(V::IsIpv4HostAddress(gateway), "gateway", V::kIpv4HostAddressRule, gateway, interfaceName, ok))) {
        return;
    }
    *stanza = SIpv4Stanza{.dhcp = false,
                          .hostname = hostname,
                          .address = address,
                          .netmask = netmask,
                          .gateway = withGateway ? gateway : std::string()};
}

void CTarvInterfacesFileEditor::SetAsStaticIpv6(const std::string& interfaceName, const std::string& address,
                                                const std::string& netmask, bool& ok)
{
    TLOG_FUNCTION();
    if (interfaceName != Tarv::kPlc0) {
        TLOG_WARN("'{} interface does not support ipv6 properties", interfaceName);
        ok = false;
        return;
    }
    if (!Accept(V::IsIpv6Address(address), "IPv6 address", V::kIpv6AddressRule, address, interfaceName, ok) ||
        !Accept(V::IsIpv6PrefixLength(netmask), "IPv6 netmask", V::kIpv6PrefixLengthRule, netmask, interfaceName, ok)) {
        return;
    }
    mFile.plc0 = SIpv6Stanza{.address = address, .prefixLength = netmask};
}

std::optional<SIpv4Stanza>* CTarvInterfacesFileEditor::Ipv4Stanza(const std::string& interfaceName, bool& ok)
{
    if (interfaceName == Tarv::kEth0) {
        return &mFile.eth0;
    }
    if (interfaceName == Tarv::kWlan0) {
        return &mFile.wlan0;
    }
    TLOG_WARN("'{} interface does not support ip properties", interfaceName);
    ok = false;
    return nullptr;
}
