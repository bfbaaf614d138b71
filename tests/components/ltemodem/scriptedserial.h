#pragma once
// A serial port whose far end is a script: every written command is looked
// up and its answer lines become readable. Single-threaded, like the
// channel's callers in these tests.

#include "platform/serial/serial.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ModemTest {

class CScriptedSerial : public CSerial {
public:
    CScriptedSerial() : CSerial("/dev/ttyATSERIAL2") {}

    bool IsDevicePresent() const override { return present; }
    bool IsOpen() const override { return open; }
    bool Open() override
    {
        open = openSucceeds;
        return open;
    }
    void Close() override { open = false; }
    void Flush() override { pending.clear(); }
    bool Write(const std::string& text) override
    {
        written.push_back(text);
        if (!writeSucceeds) {
            return false;
        }
        const std::string command = text.substr(0, text.find("\r\n"));
        const auto it = answers.find(command);
        if (it != answers.end()) {
            pending.insert(pending.end(), it->second.begin(), it->second.end());
        } else if (fallback) {
            const auto lines = fallback(command);
            pending.insert(pending.end(), lines.begin(), lines.end());
        }
        return true;
    }
    bool Read(std::string& line) override
    {
        if (!open || pending.empty()) {
            if (vanishWhenDrained) {
                open = false;
            }
            return false;
        }
        line = pending.front();
        pending.pop_front();
        return true;
    }

    bool present = true;
    bool open = false;
    bool openSucceeds = true;
    bool writeSucceeds = true;
    bool vanishWhenDrained = false;
    std::deque<std::string> pending;
    std::map<std::string, std::vector<std::string>> answers;
    std::function<std::vector<std::string>(const std::string&)> fallback;
    std::vector<std::string> written;
};

} // namespace ModemTest
