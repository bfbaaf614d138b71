#pragma once
// Operations of the WLAN station handler beyond the common handler ones, used
// by the lifecycle actions and by the scan requests of the service side.

#include "proto/messages.pb.h"

class ITarvWlanControl {
public:
    virtual ~ITarvWlanControl() = default;

    // Validates the credentials and connects. ok is set true by the caller
    // and only ever cleared here.
    virtual void SetCredentialsAndEnable(bool& ok) = 0;
    // Writes the wlan0 stanza and reconnects.
    virtual void SetIfProperties(bool& ok) = 0;
    // Scans for networks; the reply's success flag tells whether it worked.
    virtual ipc::MScanWlan ScanWlan() = 0;
};
