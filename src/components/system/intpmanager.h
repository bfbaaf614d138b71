#pragma once
// Time synchronisation: prepares the NTP daemon's configuration and starts it.

class INtpManager {
public:
    virtual ~INtpManager() = default;
    // True when the NTP daemon can be started.
    virtual bool Initialize() = 0;
    virtual void StartNtpd() = 0;
};
