#include "src/components/handlers/tarvwlanhandler.h"

#include "diagnostics/signalcatalogue.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/tarvvalidation.h"
#include "platform/toolbox/toolbox.h"
#include "src/components/links/netlinklinkhandle.h"
#include "src/components/system/tarvexception.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace {

constexpr std::chrono::seconds kWlanStateTimeout{8};

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF): a network name goes into a text field of the
// reply, which a peer refuses to read otherwise.
bool IsUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            length = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + length >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length + 1;
    }
    return true;
}

} // namespace

CTarvWlanHandler::CTarvWlanHandler(const SHandlerParts& parts, std::shared_ptr<ITarvWifiScan> wifiScan,
                                   std::shared_ptr<IWpaSupplicantHandler> supplicant)
    : CTarvConnectionHandlerBase(parts, {ipc::EWlan0, HwHasWlan, kWlanStateTimeout, &Signals::kWlanLinkState}),
      mInterfacesFileEditor(parts.interfacesFileEditor), mWifiScan(std::move(wifiScan)),
      mHostnameManager(parts.hostnameManager), mSupplicant(std::move(supplicant)),
      mSignalStrength(std::make_shared<CDiagnosticsSignal<std::int32_t>>(&Signals::kWlanSignalStrength)),
      mWorker("wlan0 status", mClock)
{
    mCachedStatus.set_interface(ipc::EWlan0);
    // A poll that failed (a configuration file that went bad, say) leaves
    // the association unknown until the next one succeeds.
    mWorker.SetErrorReporter([this](const std::string&) { SetDisconnected(ipc::MNetStatus::ENotSet); });
    mWorker.Start();
}

CTarvWlanHandler::~CTarvWlanHandler()
{
    mWorker.Stop();
}

bool CTarvWlanHandler::ReadCredentials(std::string& ssid, std::string& passphrase) const
{
    ssid = mConfig->GetString(TarvSsid);
    passphrase = mConfig->GetString(WlanStaPassword);
    return CTarvValidation::IsWlanSsid(ssid) && CTarvValidation::IsWlanPassword(passphrase);
}

void CTarvWlanHandler::SetCredentialsAndEnable(bool& ok)
{
    TLOG_FUNCTION();
    Disconnect();
    std::string ssid, passphrase;
    if (ReadCredentials(ssid, passphrase)) {
        Enable(ok);
        return;
    }
    TLOG_WARN("WLAN credentials invalid, clearing wpa_supplicant credentials");
    mSupplicant->StartWpaSupplicant(mInterfaceName, "", "");
    mSupplicant->StopWpaSupplicant();
    ok = false;
}

void CTarvWlanHandler::Enable(bool& ok)
{
    TLOG_FUNCTION();
    std::string ssid, passphrase;
    const bool valid = ReadCredentials(ssid, passphrase);
    if (ssid.empty() && passphrase.empty()) {
        CTarvConnectionHandlerBase::Enable(ok);
        TLOG_INFO("Empty WLAN credentials, not starting wpa_supplicant");
        return;
    }
    if (!valid) {
        CTarvConnectionHandlerBase::Enable(ok);
        // Another process may have changed them since they were checked.
        TLOG_ERROR("WLAN credentials invalid, not starting wpa_supplicant");
        ok = false;
        mSupplicant->StopWpaSupplicant();
        return;
    }
    // The supplicant first, as on any WLAN client: the DHCP client that ifup
    // starts gets a lease only once the radio has associated.
    if (!mSupplicant->StartWpaSupplicant(mInterfaceName, ssid, passphrase)) {
        TLOG_ERROR("Failed to start the wpa_supplicant process");
        ok = false;
        mSupplicant->StopWpaSupplicant();
        return;
    }
    if (!BringUpWithSupplicant()) {
        ok = false;
        mSupplicant->StopWpaSupplicant();
        return;
    }
    TLOG_INFO("Establishing connection with \"{}\"... ", CTarvValidation::Printable(ssid));
    // On the worker, so that no poll is in flight while the handle changes.
    mWorker.BlockingCall([this] {
        if (mStatusPoll) {
            mStatusPoll->Cancel();
        }
        mStatusPoll = mWorker.AddCall([this] { UpdateNetworkStatus(); }, mClock->Now(), kStatusPollPeriod);
    });
}

bool CTarvWlanHandler::BringUpWithSupplicant()
{
    const bool dhcp = mConfig->GetBool(TarvWlanDhcpEnable);
    bool up = true;
    CTarvConnectionHandlerBase::Enable(up);
    if (up) {
        if (dhcp && !TriggerUdhcpcRenew(GetUdhcpcPid())) {
            TLOG_ERROR("Failed to renew DHCP lease");
            return false;
        }
        return true;
    }
    if (!dhcp) {
        return false;
    }
    // No lease yet (a network out of range, an association that takes
    // longer than ifup's DHCP client waits): the supplicant joins when it
    // can, and a DHCP client in the background takes the lease then.
    const std::optional<std::string> hostname = mHostnameManager->GetHostname();
    const SProcessIdentity client = UdhcpcIdentity();
    const std::string command = "udhcpc -b -R -p " + CRootDir::Resolve(client.pidFile) + " -i " + mInterfaceName +
                                (hostname ? " -x hostname:" + *hostname : "");
    if (mProcesses->Find(client) == -1) {
        if (mRunCommand->Run(command, 0).exitCode != 0) {
            TLOG_ERROR("Could not start a DHCP client for {}", mInterfaceName);
            return false;
        }
        mProcesses->NoteStarted(client);
    }
    mOwnDhcpClient = true;
    TLOG_WARN("{} has no lease yet: it is taken once the network is joined", mInterfaceName);
    return true;
}

void CTarvWlanHandler::Disable(bool& ok)
{
    Disconnect();
    CTarvConnectionHandlerBase::Disable(ok);
    // A DHCP client ifup did not start is not ended by ifdown.
    if (mOwnDhcpClient.exchange(false) && !mProcesses->Stop(UdhcpcIdentity(), kDhcpClientStopGrace)) {
        TLOG_ERROR("Could not stop the DHCP client of {}", mInterfaceName);
        ok = false;
    }
}

void CTarvWlanHandler::Disconnect()
{
    // Once this returns no poll runs, so none can mark the link connected again.
    mWorker.BlockingCall([this] {
        if (mStatusPoll) {
            mStatusPoll->Cancel();
            mStatusPoll.reset();
        }
    });
    mConnectionAnnounced = false;
    SetDisconnected(ipc::MNetStatus::EDisconnected);
}

void CTarvWlanHandler::SetDisconnected(ipc::MNetStatus::EConnectionState state)
{
    mLinkSignal->SetValue(false);
    mSignalStrength->SetValue(kNoSignal);
    std::unique_lock lock(mStatusMutex);
    mCachedStatus.set_connectionstate(state);
    ipc::MNetStatus_MNetProperties* properties = mCachedStatus.mutable_properties();
    properties->set_ipaddress("");
    properties->set_subnetmask("");
    mCachedStatus.set_signalstrength(kNoSignal);
}

ipc::MNetStatus::EConnectionState CTarvWlanHandler::QueryAssociation(ITarvWifiScan::SStationInfo& station)
{
    const CNetlinkLinkHandle link(*mNetlink, mInterfaceName);
    const ipc::MNetStatus::EConnectionState state = ConnectionStateOf(link.State());
    if (state != ipc::MNetStatus::EConnected) {
        return state;
    }
    std::unique_ptr<ITarvWifiScan::CHandle> handle = mWifiScan->WifiScanInit(mInterfaceName);
    ITarvWifiScan::SStationResult result;
    if (handle) {
        result = mWifiScan->GetWifiStatus(*handle);
        mWifiScan->FreeWifi(std::move(handle));
    }
    if (result.result < 0) {
        // Said once while it lasts: the poll runs every second.
        if (!mPollFailing.exchange(true)) {
            TLOG_ERROR("Unable to get station information");
        }
        return ipc::MNetStatus::ENotSet;
    }
    mPollFailing = false;
    if (result.result == 0 || result.info.status == -1) {
        return ipc::MNetStatus::EDisconnected;
    }
    station = std::move(result.info);
    return ipc::MNetStatus::EConnected;
}

void CTarvWlanHandler::UpdateNetworkStatus()
{
    TLOG_FUNCTION();
    ITarvWifiScan::SStationInfo station;
    ipc::MNetStatus::EConnectionState state = ipc::MNetStatus::ENotSet;
    try {
        state = QueryAssociation(station);
    } catch (const std::exception& e) {
        // A missing wlan0 must not end the poll (nor the worker).
        if (!mPollFailing.exchange(true)) {
            TLOG_ERROR("Could not query {}: {}", mInterfaceName, e.what());
        }
    }

    if (state == ipc::MNetStatus::EConnected) {
        if (!mConnectionAnnounced.exchange(true)) {
            TLOG_INFO("Established connection to \"{}\"", CTarvValidation::Printable(station.ssid));
        }
        mLinkSignal->SetValue(true);
        mSignalStrength->SetValue(station.signalDbm);
        ipc::MNetStatus addresses;
        GetIpProperties(addresses);
        std::unique_lock lock(mStatusMutex);
        mCachedStatus.set_connectionstate(ipc::MNetStatus::EConnected);
        ipc::MNetStatus_MNetProperties* properties = mCachedStatus.mutable_properties();
        properties->set_ipaddress(addresses.properties().ipaddress());
        properties->set_subnetmask(addresses.properties().subnetmask());
        mCachedStatus.set_signalstrength(station.signalDbm);
    } else {
        SetDisconnected(state);
    }
    if (mConfig->GetBool(TarvWlanDhcpEnable)) {
        UpdateUdhcpc(state == ipc::MNetStatus::EConnected);
    }
}

ipc::MNetStatus CTarvWlanHandler::GetStatus()
{
    std::shared_lock lock(mStatusMutex);
    return mCachedStatus;
}

void CTarvWlanHandler::SendDiagSignals()
{
    TLOG_FUNCTION();
    mLinkSignal->Send();
    mSignalStrength->Send();
}

void CTarvWlanHandler::SetIfProperties(bool& ok)
{
    TLOG_FUNCTION();
    const bool dhcp = mConfig->GetBool(TarvWlanDhcpEnable);
    const std::optional<std::string> hostname = mHostnameManager->GetHostname();
    if (!hostname) {
        TLOG_ERROR("Could not get hostname");
        ok = false;
        return;
    }
    std::string address, netmask;
    if (!dhcp) {
        address = mConfig->GetString(TarvWlanIpv4Addr);
        netmask = mConfig->GetString(TarvWlanIpv4Netmask);
        // Checked before the link goes down: an unusable setting changes nothing.
        if (address.empty() || netmask.empty()) {
            ok = false;
            TLOG_ERROR("IP address or netmask are empty for {} static properties", mInterfaceName);
            return;
        }
    }

    mWorker.BlockingCall([this] { UpdateNetworkStatus(); });
    bool restarted = true;
    if (GetStatus().connectionstate() == ipc::MNetStatus::EConnected) {
        Disable(restarted);
    }
    if (dhcp) {
        mInterfacesFileEditor->SetAsDhcp(mInterfaceName, *hostname, ok);
    } else {
        // A WLAN stanza never has a gateway.
        mInterfacesFileEditor->SetAsStaticIpv4(mInterfaceName, *hostname, address, netmask, ok, "");
    }
    mInterfacesFileEditor->SetInterfacesFile(ok);
    if (mConfig->GetBool(TarvWlanEnable)) {
        Enable(restarted);
    }
    if (!restarted) {
        TLOG_WARN("{} could not be restarted after setting static IP properties", mInterfaceName);
    }
    if (!ok) {
        TLOG_ERROR("Failed to set static IP address for {}", mInterfaceName);
    }
}

ipc::MScanWlan CTarvWlanHandler::ScanWlan()
{
    TLOG_FUNCTION();
    TLOG_INFO("Scanning for available WLANs call");
    ipc::MScanWlan scan;
    scan.set_success(false);
    std::unique_ptr<ITarvWifiScan::CHandle> handle = mWifiScan->WifiScanInit(mInterfaceName);
    for (int attempt = 0; handle && attempt < kScanAttempts; ++attempt) {
        ITarvWifiScan::SScanResult result = mWifiScan->ScanAll(*handle);
        if (result.count >= 0) {
            scan.set_success(true);
            // Never more than the records that were reported, nor than the buffer holds.
            const auto usable = std::min({static_cast<std::size_t>(result.count), result.records.size(),
                                          ITarvWifiScan::kMaxScanRecords});
            result.records.resize(usable);
            AddScanEntries(std::move(result.records), scan);
            break;
        }
        TLOG_WARN("Unable to get scan data retry #{}", attempt);
        if (mRunCommand->Run("ip link set " + mInterfaceName + " up", 0).exitCode != 0) {
            TLOG_WARN("Could not bring {} up", mInterfaceName);
        }
    }
    if (!scan.success()) {
        TLOG_ERROR("Unable to scan for wlan");
    }
    if (handle) {
        mWifiScan->FreeWifi(std::move(handle));
    }
    // The scan needed the interface up; a disabled WLAN goes down again.
    if (!mConfig->GetBool(TarvWlanEnable) &&
        mRunCommand->Run("ip link set " + mInterfaceName + " down", 0).exitCode != 0) {
        TLOG_ERROR("Could not bring {} down", mInterfaceName);
        throw CTarvException();
    }
    return scan;
}

void CTarvWlanHandler::AddScanEntries(std::vector<ITarvWifiScan::SScanRecord> records, ipc::MScanWlan& scan)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return a.signalMbm > b.signalMbm; });
    std::set<std::string> listed;
    for (const ITarvWifiScan::SScanRecord& record : records) {
        if (scan.networks_size() >= kMaxScanEntries) {
            break;
        }
        if (record.signalMbm < kMinScanSignalMbm || record.complete == 0 ||
            record.frequencyMhz < kMinScanFrequencyMhz || record.frequencyMhz > kMaxScanFrequencyMhz ||
            record.ssid.empty() || !IsUtf8(record.ssid) || !listed.insert(record.ssid).second) {
            continue;
        }
        ipc::MScanWlan_MScanStruct* entry = scan.add_networks();
        entry->set_ssid(record.ssid);
        entry->set_security("wpa2");
        entry->set_signallevel(record.signalMbm / 100);
        entry->set_channel(static_cast<std::int32_t>((record.frequencyMhz - kMinScanFrequencyMhz) / 5 + 1));
    }
}
