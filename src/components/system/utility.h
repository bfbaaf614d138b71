#pragma once
// Interface names, route metrics, resolver paths, and the equality of
// interface status messages used to detect status changes.

#include "proto/messages.pb.h"

#include <string>

namespace Tarv {
inline const std::string kEth0 = "eth0";
inline const std::string kWlan0 = "wlan0";
inline const std::string kUap0 = "uap0";
inline const std::string kLte0 = "lte0";
inline const std::string kPlc0 = "plc0";

inline const std::string kMetric0 = "0";
inline const std::string kMetric10 = "10";
inline const std::string kMetric20 = "20";
inline const std::string kMetric30 = "30";
inline const std::string kMetric100 = "100";

inline const std::string kResolvConfDir = "/run/resolvconf/interface/";
inline const std::string kSetResolvScript = "/usr/bin/setresolv.sh";
} // namespace Tarv

// "uap0", "eth0", "wlan0", "lte0", "plc0"; any other value logs
// "Unknown Interface" and throws CTarvException.
std::string IfNameToString(ipc::EIfName name);

namespace ipc {
// Connection state and the three sub-messages are compared (an unset
// sub-message compares as its default instance); interface and signal
// strength are not.
bool operator==(const MNetStatus& a, const MNetStatus& b);
bool operator==(const MNetStatus_MNetProperties& a, const MNetStatus_MNetProperties& b);
bool operator==(const MNetStatus_MNetDns& a, const MNetStatus_MNetDns& b);
bool operator==(const MNetStatus_MLteInfo& a, const MNetStatus_MLteInfo& b);
} // namespace ipc
