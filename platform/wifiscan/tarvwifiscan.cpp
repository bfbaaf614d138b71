#include "platform/wifiscan/tarvwifiscan.h"

#include "platform/log/log.h"
#include "platform/wifiscan/nl80211session.h"

#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/netlink.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

constexpr std::uint8_t kSsidElement = 0;
constexpr std::size_t kMaxSsidBytes = 32;

// The network name from a BSS's information elements: the bytes of the
// first SSID element up to a zero byte, at most 32; nullopt when absent.
std::optional<std::string> SsidOf(const nlattr* elements)
{
    if (elements == nullptr) {
        return std::nullopt;
    }
    const auto* data = static_cast<const std::uint8_t*>(nla_data(elements));
    const std::size_t size = static_cast<std::size_t>(nla_len(elements));
    for (std::size_t at = 0; at + 2 <= size;) {
        const std::size_t length = data[at + 1];
        if (at + 2 + length > size) {
            break; // a truncated element: nothing after it can be read
        }
        if (data[at] == kSsidElement) {
            const auto* name = reinterpret_cast<const char*>(data + at + 2);
            const std::size_t bytes = std::min(length, kMaxSsidBytes);
            return std::string(name, strnlen(name, bytes));
        }
        at += 2 + length;
    }
    return std::nullopt;
}

// One BSS of a scan dump; nullopt for a message without one.
std::optional<ITarvWifiScan::SScanRecord> RecordOf(CNl80211Session::Attributes attributes)
{
    if (attributes[NL80211_ATTR_BSS] == nullptr) {
        return std::nullopt;
    }
    nlattr* bss[NL80211_BSS_MAX + 1] = {};
    if (nla_parse_nested(bss, NL80211_BSS_MAX, attributes[NL80211_ATTR_BSS], nullptr) != 0) {
        return std::nullopt;
    }
    ITarvWifiScan::SScanRecord record;
    if (bss[NL80211_BSS_BSSID] != nullptr && nla_len(bss[NL80211_BSS_BSSID]) >= 6) {
        std::memcpy(record.bssid.data(), nla_data(bss[NL80211_BSS_BSSID]), record.bssid.size());
    }
    if (bss[NL80211_BSS_FREQUENCY] != nullptr) {
        record.frequencyMhz = nla_get_u32(bss[NL80211_BSS_FREQUENCY]);
    }
    if (bss[NL80211_BSS_STATUS] != nullptr) {
        record.status = static_cast<std::int32_t>(nla_get_u32(bss[NL80211_BSS_STATUS]));
    }
    if (bss[NL80211_BSS_SIGNAL_MBM] != nullptr) {
        record.signalMbm = static_cast<std::int32_t>(nla_get_u32(bss[NL80211_BSS_SIGNAL_MBM]));
    }
    if (bss[NL80211_BSS_SEEN_MS_AGO] != nullptr) {
        record.secondsSeen = nla_get_u32(bss[NL80211_BSS_SEEN_MS_AGO]) / 1000;
    }
    const std::optional<std::string> ssid = SsidOf(bss[NL80211_BSS_INFORMATION_ELEMENTS]);
    record.ssid = ssid.value_or("");
    record.complete = bss[NL80211_BSS_FREQUENCY] != nullptr && bss[NL80211_BSS_SIGNAL_MBM] != nullptr && ssid ? 1 : 0;
    return record;
}

// The BSS list of the interface, at most ITarvWifiScan::kMaxScanRecords.
int DumpScan(CNl80211Session& session, std::vector<ITarvWifiScan::SScanRecord>& records,
             std::chrono::milliseconds deadline)
{
    return session.Request(
        NL80211_CMD_GET_SCAN, true, nullptr,
        [&records](int, CNl80211Session::Attributes attributes) {
            // Further records are read and dropped: the list never grows past the limit.
            if (records.size() < ITarvWifiScan::kMaxScanRecords) {
                if (auto record = RecordOf(attributes)) {
                    records.push_back(std::move(*record));
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
