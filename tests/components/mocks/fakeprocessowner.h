#pragma once
// The processes of the station as a table of pid files: Find answers from
// it, Stop ends a process unless it is stubborn, and every call is recorded
// ("Find hostapd", "Stop dnsmasq", "Started hostapd", "Signal udhcpc 10").

#include "src/components/system/iprocessowner.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace HandlerMocks {

class CFakeProcessOwner : public IProcessOwner {
public:
    int Find(const SProcessIdentity& identity) override
    {
        std::lock_guard lock(mMutex);
        calls.push_back("Find " + identity.program);
        const auto it = running.find(identity.pidFile);
        return it == running.end() ? -1 : it->second;
    }
    bool Signal(const SProcessIdentity& identity, int pid, int signalNumber) override
    {
        std::lock_guard lock(mMutex);
        calls.push_back("Signal " + identity.program + " " + std::to_string(signalNumber));
        const auto it = running.find(identity.pidFile);
        return it != running.end() && it->second == pid;
    }
    bool Stop(const SProcessIdentity& identity, std::chrono::milliseconds) override
    {
        std::lock_guard lock(mMutex);
        calls.push_back("Stop " + identity.program);
        if (stubborn.contains(identity.program)) {
            return false;
        }
        running.erase(identity.pidFile);
        return true;
    }
    void NoteStarted(const SProcessIdentity& identity) override
    {
        std::lock_guard lock(mMutex);
        calls.push_back("Started " + identity.program);
    }
    std::vector<std::string> TakeCalls()
    {
        std::lock_guard lock(mMutex);
        return std::exchange(calls, {});
    }

    // Guarded by mMutex once a handler runs on other threads.
    std::map<std::string, int> running; // pid file -> pid
    std::set<std::string> stubborn;     // programs that survive Stop
    std::vector<std::string> calls;

private:
    std::mutex mMutex;
};

} // namespace HandlerMocks
