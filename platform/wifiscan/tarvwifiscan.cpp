#include "platform/wifiscan/tarvwifiscan.h"

#include "platform/log/log.h"
#include "platform/wifiscan/nl80211session.h"
#include "platform/wifiscan/scanrecordparser.h"

#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/netlink.h>

#include <algorithm>
#include <span>

namespace {

// The BSS list of the interface, at most ITarvWifiScan::kMaxScanRecords.
int DumpScan(CNl80211Session& session, std::vector<ITarvWifiScan::SScanRecord>& records,
             std::chrono::milliseconds deadline)
{
    return session.Request(
        NL80211_CMD_GET_SCAN, true, nullptr,
        [&records](int, CNl80211Session::Attributes attributes) {
            // Further records are read and dropped: the list never grows past the limit.
            if (records.size() < ITarvWifiScan::kMaxScanRecords) {
                if (const nlattr* bss = attributes[NL80211_ATTR_BSS]) {
                    const auto* payload = static_cast<const std::uint8_t*>(nla_data(bss));
                    records.push_back(ScanRecordParser::RecordOf(
                        std::span(payload, static_cast<std::size_t>(std::max(nla_len(bss), 0)))));
                }
            }
        },
        deadline);
}

} // namespace

CTarvWifiScan::CTarvWifiScan(std::chrono::milliseconds requestDeadline, std::chrono::milliseconds scanDeadline)
    : mRequestDeadline(requestDeadline), mScanDeadline(scanDeadline)
{
}

std::unique_ptr<ITarvWifiScan::CHandle> CTarvWifiScan::WifiScanInit(const std::string& interfaceName)
{
    TLOG_FUNCTION();
    return CNl80211Session::Open(interfaceName);
}

const ITarvWifiScan::SScanRecord* CTarvWifiScan::FindAssociated(const std::vector<SScanRecord>& records)
{
    const auto associated = std::find_if(records.begin(), records.end(), [](const SScanRecord& r) {
        return r.status == NL80211_BSS_STATUS_ASSOCIATED || r.status == NL80211_BSS_STATUS_IBSS_JOINED;
    });
    return associated == records.end() ? nullptr : &*associated;
}

ITarvWifiScan::SStationResult CTarvWifiScan::GetWifiStatus(CHandle& handle)
{
    TLOG_FUNCTION();
    auto& session = static_cast<CNl80211Session&>(handle);
    SStationResult result;
    std::vector<SScanRecord> records;
    const int error = DumpScan(session, records, mRequestDeadline);
    if (error != 0) {
        TLOG_DEBUG("nl80211 scan dump failed: {}", error);
        return result;
    }
    const SScanRecord* const associated = FindAssociated(records);
    if (associated == nullptr) {
        result.result = 0;
        return result;
    }
    result.result = 1;
    result.info.bssid = associated->bssid;
    result.info.ssid = associated->ssid;
    result.info.status = associated->status;
    result.info.signalDbm = static_cast<std::int8_t>(associated->signalMbm / 100);
    // The station entry of the access point has the signal of the last frames.
    const auto bssid = associated->bssid;
    session.Request(
        NL80211_CMD_GET_STATION, false,
        [&bssid](nl_msg* message) { nla_put(message, NL80211_ATTR_MAC, static_cast<int>(bssid.size()), bssid.data()); },
        [&result](int, CNl80211Session::Attributes attributes) {
            nlattr* info[NL80211_STA_INFO_MAX + 1] = {};
            if (attributes[NL80211_ATTR_STA_INFO] != nullptr &&
                nla_parse_nested(info, NL80211_STA_INFO_MAX, attributes[NL80211_ATTR_STA_INFO], nullptr) == 0 &&
                info[NL80211_STA_INFO_SIGNAL] != nullptr) {
                result.info.signalDbm = static_cast<std::int8_t>(nla_get_u8(info[NL80211_STA_INFO_SIGNAL]));
            }
        },
        mRequestDeadline);
    return result;
}

ITarvWifiScan::SScanResult CTarvWifiScan::ScanAll(CHandle& handle)
{
    TLOG_FUNCTION();
    auto& session = static_cast<CNl80211Session&>(handle);
    SScanResult result;
    int triggerError = 0;
    const bool scanned = session.WaitForScan(
        [&] {
            triggerError = session.Request(NL80211_CMD_TRIGGER_SCAN, false, nullptr, nullptr, mRequestDeadline);
            return triggerError == 0;
        },
        mScanDeadline);
    if (!scanned) {
        TLOG_DEBUG("nl80211 scan failed: {}", triggerError);
        return result;
    }
    const int error = DumpScan(session, result.records, mRequestDeadline);
    if (error != 0) {
        TLOG_DEBUG("nl80211 scan dump failed: {}", error);
        result.records.clear();
        return result;
    }
    result.count = static_cast<int>(result.records.size());
    return result;
}

void CTarvWifiScan::FreeWifi(std::unique_ptr<CHandle> handle)
{
    TLOG_FUNCTION();
    handle.reset();
}
