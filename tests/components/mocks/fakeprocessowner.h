#pragma once
// The processes of the station as a table of pid files, for one test thread:
// Find answers from it, Stop ends a process unless it is stubborn, and every
// call is recorded ("Find hostapd", "Stop dnsmasq", "Started hostapd").

#include "src/components/system/iprocessowner.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace HandlerMocks {

struct CFakeProcessOwner : IProcessOwner {
    int Find(const SProcessIdentity& identity) override
    {
        calls.push_back("Find " + identity.program);
        return running.contains(identity.pidFile) ? running.at(identity.pidFile) : -1;
    }
    bool Signal(const SProcessIdentity& identity, int pid, int) override
    {
        return running.contains(identity.pidFile) && running.at(identity.pidFile) == pid;
    }
    bool Stop(const SProcessIdentity& identity, std::chrono::milliseconds) override
    {
        calls.push_back("Stop " + identity.program);
        if (stubborn.contains(identity.program)) {
            return false;
        }
        running.erase(identity.pidFile);
        return true;
    }
    void NoteStarted(const SProcessIdentity& identity) override { calls.push_back("Started " + identity.program); }
    std::size_t StopLeftovers(const std::vector<SProcessIdentity>& identities, std::chrono::milliseconds) override
    {
        for (const auto& identity : identities) {
            calls.push_back("StopLeftovers " + identity.program + " " + identity.interfaceName);
        }
        return 0;
    }

    std::map<std::string, int> running; // pid file -> pid
    std::set<std::string> stubborn;     // programs that survive Stop
    std::vector<std::string> calls;
};

} // namespace HandlerMocks
