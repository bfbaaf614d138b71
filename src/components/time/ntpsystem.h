#pragma once
// The system's resolver and the kernel's clock status.

#include "src/components/time/intpsystem.h"

class CNtpSystem : public INtpSystem {
public:
    bool ResolveHost(const std::string& host, bool quiet) override;
    bool IsClockSynchronised() override;
};
