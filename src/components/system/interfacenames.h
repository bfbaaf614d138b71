#pragma once
// The station's network interface names.

#include "proto/messages.pb.h"

#include <string>

namespace Tarv {
inline const std::string kEth0 = "eth0";
inline const std::string kWlan0 = "wlan0";
inline const std::string kUap0 = "uap0";
inline const std::string kLte0 = "lte0";
inline const std::string kPlc0 = "plc0";
} // namespace Tarv

// "uap0", "eth0", "wlan0", "lte0", "plc0"; any other value logs
// "Unknown Interface" and throws CTarvException.
std::string IfNameToString(ipc::EIfName name);
