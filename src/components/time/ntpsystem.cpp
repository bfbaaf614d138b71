#include "src/components/time/ntpsystem.h"

#include "platform/toolbox/toolbox.h"

bool CNtpSystem::ResolveHost(const std::string& host, bool quiet)
{
    return Toolbox::ResolveHost(host, quiet) != 0;
}

bool CNtpSystem::IsClockSynchronised()
{
    return Toolbox::GetNtpSyncStatus() != 0;
}
