#pragma once
// Time stamps of the station peers' records: UTC, ISO 8601, microseconds.

#include <chrono>
#include <string>

namespace StationPeer {

std::string UtcTime(std::chrono::system_clock::time_point time);
inline std::string UtcNow() { return UtcTime(std::chrono::system_clock::now()); }

} // namespace StationPeer
