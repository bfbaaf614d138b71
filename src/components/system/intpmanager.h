#pragma once
// Time synchronisation: validates the configured servers, then starts the
// NTP daemon once a server resolves.

class INtpManager {
public:
    virtual ~INtpManager() = default;
    // True when the NTP daemon can be started.
    virtual bool Init() = 0;
    virtual void StartNtpd() = 0;
};
