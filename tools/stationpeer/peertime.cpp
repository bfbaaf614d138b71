#include "tools/stationpeer/peertime.h"

#include <cstdio>
#include <ctime>

std::string StationPeer::UtcTime(std::chrono::system_clock::time_point time)
{
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    long fraction = static_cast<long>(micros % 1000000);
    if (fraction < 0) {
        fraction += 1000000;
        --seconds;
    }
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char result[64];
    std::snprintf(result, sizeof result, "%.*s.%06ldZ", static_cast<int>(length), text, fraction);
    return result;
}
