#pragma once
// The equality of interface status messages that decides whether a status
// changed and is published again.

#include "proto/messages.pb.h"

namespace ipc {
// Connection state and the three sub-messages are compared (an unset
// sub-message compares as its default instance); interface and signal
// strength are not.
bool operator==(const MNetStatus& a, const MNetStatus& b);
bool operator==(const MNetStatus_MNetProperties& a, const MNetStatus_MNetProperties& b);
bool operator==(const MNetStatus_MNetDns& a, const MNetStatus_MNetDns& b);
bool operator==(const MNetStatus_MLteInfo& a, const MNetStatus_MLteInfo& b);
} // namespace ipc
