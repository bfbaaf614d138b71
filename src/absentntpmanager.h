#pragma once
// Stand-in for the time synchronisation of a build without it: never ready,
// so the NTP daemon is never started.

#include "src/components/system/intpmanager.h"

class CAbsentNtpManager : public INtpManager {
public:
    bool Initialize() override { return false; }
    void StartNtpd() override {}
};
