#include "src/components/lifecycle/tarvinterfaceupdater.h"

#include "platform/config/qeconfig.h"
#include "platform/log/log.h"
#include "src/components/lifecycle/tarvinterfacejobs.h"
#include "src/components/system/tarvexception.h"

#include <exception>
#include <utility>

CTarvInterfaceUpdater::CTarvInterfaceUpdater(std::shared_ptr<ITarvConfig> config, const STarvHandlerSet& handlers,
                                             std::function<void()> enableAll)
    : mConfig(std::move(config)), mHandlers(handlers), mEnableAll(std::move(enableAll))
{
}

void CTarvInterfaceUpdater::RunStep(const std::function<void(bool&)>& step, bool& ok, bool& critical)
{
    // Cancelled work starts no further step: its commands would not run.
    if (CTarvInterfaceJobs::IsCancelled()) {
        ok = false;
        return;
    }
    // A flag of its own: an earlier failure of another handler must not read
    // as one of this step, nor keep it from running.
    bool own = true;
    try {
        step(own);
    } catch (const QeConfig::CTypeError&) {
        TLOG_ERROR("Wrong data type was used in the configuration files.");
        own = false;
    } catch (const CTarvException&) {
        own = false;
        critical = true;
    } catch (const std::exception& e) {
        TLOG_ERROR("Interface operation failed: {}", e.what());
        own = false;
        critical = true;
    }
    ok = ok && own;
}

void CTarvInterfaceUpdater::Apply(const std::vector<EConfigKey>& keys, bool& ok, bool& critical) const
{
    SDone done;
    for (const EConfigKey key : keys) {
        if (!ApplySwitch(key, ok, critical)) {
            ApplySetting(key, done, ok, critical);
        }
    }
}

bool CTarvInterfaceUpdater::ApplySwitch(EConfigKey key, bool& ok, bool& critical) const
{
    const auto switchOf = [&](CTarvConnectionHandlerBase& handler) {
        RunStep([&](bool& own) { EnableOrDisable(handler, key, own); }, ok, critical);
    };
    switch (key) {
    case InstallationComplete:
        TLOG_INFO("Update all interfaces because installation is done");
        mEnableAll();
        return true;
    case TarvEthEnable: switchOf(*mHandlers.eth); return true;
    case TarvApEnable: switchOf(*mHandlers.ap); return true;
    case TarvPlcEnable: switchOf(*mHandlers.plc); return true;
    case TarvLteEnable:
        RunStep(
            [&](bool& own) {
                if (mConfig->GetBool(HwHasLte)) {
                    EnableOrDisable(*mHandlers.lte, key, own);
                }
            },
            ok, critical);
        return true;
    default: return false;
    }
}

void CTarvInterfaceUpdater::ApplySetting(EConfigKey key, SDone& done, bool& ok, bool& critical) const
{
    // Runs the group's call unless it ran in this Apply.
    const auto once = [&](bool& groupDone, const char* line, const std::function<void(bool&)>& step) {
        if (groupDone) {
            return;
        }
        if (line != nullptr) {
            TLOG_INFO("{}", line);
        }
        RunStep(step, ok, critical);
        groupDone = true;
    };
    switch (key) {
    case TarvEthDhcpEnable:
    case TarvEthIpv4Addr:
    case TarvEthIpv4Netmask:
    case TarvEthGatewayAddr:
        once(done.ethProperties, "Update eth properties", [this](bool& own) { mHandlers.ethControl->SetIfProperties(own); });
        break;
    case TarvDnsAuto:
    case TarvPreferredDnsServerAddr:
    case TarvAlternativeDnsServerAddr:
        once(done.dns, "Configuring DNS", [this](bool& own) { mHandlers.ethControl->SetDns(own); });
        break;
    case TarvWlanEnable:
        // Enabling connects with the current credentials itself, and applying them enables.
        if (!done.wlanConnection || !mConfig->GetBool(TarvWlanEnable)) {
            RunStep([&](bool& own) { EnableOrDisable(*mHandlers.wlan, key, own); }, ok, critical);
        }
        done.wlanConnection = true;
        break;
    case TarvSsid:
    case WlanStaPassword:
        once(done.wlanConnection, "Update/make WLAN connection",
             [this](bool& own) { mHandlers.wlanControl->SetCredentialsAndEnable(own); });
        break;
    case TarvWlanDhcpEnable:
    case TarvWlanIpv4Addr:
    case TarvWlanIpv4Netmask:
        once(done.wlanProperties, "Update WLAN properties",
             [this](bool& own) { mHandlers.wlanControl->SetIfProperties(own); });
        break;
    case TarvLteApn:
    case TarvLteApnUser:
    case TarvLteApnPass:
    case TarvLteApnAuth:
    case TarvLteApnIp:
    case TarvLteSimPin:
        // Checked now, so that a refused value reaches the client.
        once(done.modemSettings, nullptr, [this](bool& own) {
            if (mConfig->GetBool(HwHasLte)) {
                mHandlers.lteControl->UpdateModemSettings(own);
            }
        });
        break;
    default: break;
    }
}

void CTarvInterfaceUpdater::EnableOrDisable(CTarvConnectionHandlerBase& handler, EConfigKey key, bool& ok) const
{
    if (mConfig->GetBool(key)) {
        handler.Enable(ok);
    } else {
        handler.Disable(ok);
    }
}
