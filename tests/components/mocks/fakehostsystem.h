#pragma once
// The running system as a table: interface addresses, processes by pid with
// their name, command line and parent, and a record of the signals sent.

#include "src/components/handlers/ihostsystem.h"

#include <arpa/inet.h>

#include <map>
#include <ranges>
#include <string>
#include <utility>
#include <vector>

namespace HandlerMocks {

struct CFakeHostSystem : IHostSystem {
    std::optional<std::vector<SIpv4Address>> Ipv4Addresses() override { return addresses; }
    std::vector<int> ProcessIds() override
    {
        const auto pids = std::views::keys(processes);
        return {pids.begin(), pids.end()};
    }
    std::string ProcessFile(int pid, const std::string& entry) override
    {
        const auto it = processes.find(pid);
        if (it != processes.end() && entry == "stat") { // "PID (NAME) STATE PARENT ..."
            return std::to_string(pid) + " (" + it->second.first + ") S " + std::to_string(Parent(pid));
        }
        const bool known = it != processes.end() && (entry == "comm" || entry == "cmdline");
        return !known ? std::string() : entry == "comm" ? it->second.first + "\n" : it->second.second;
    }
    int SignalProcess(int pid, int signalNumber) override
    {
        signals.emplace_back(pid, signalNumber);
        return processes.count(pid) == 0 ? ESRCH : signalError;
    }

    void AddAddress(const std::string& name, const char* address, const char* netmask)
    {
        SIpv4Address& entry = addresses->emplace_back();
        entry.interfaceName = name;
        inet_pton(AF_INET, address, &entry.address);
        inet_pton(AF_INET, netmask, &entry.netmask);
    }
    // The process's name and its arguments, the first being the program.
    void AddProcess(int pid, const std::string& comm, const std::vector<std::string>& arguments)
    {
        std::string& cmdline = (processes[pid] = {comm, ""}).second;
        for (const auto& argument : arguments) {
            cmdline += argument + '\0';
        }
    }

    std::optional<std::vector<SIpv4Address>> addresses = std::vector<SIpv4Address>{};
    std::map<int, std::pair<std::string, std::string>> processes;
    std::map<int, int> parents; // pid -> parent pid; 1 when not listed
    int Parent(int pid) const { return parents.contains(pid) ? parents.at(pid) : 1; }
    std::vector<std::pair<int, int>> signals;
    int signalError = 0; // what signalling a known process gives
};

} // namespace HandlerMocks
