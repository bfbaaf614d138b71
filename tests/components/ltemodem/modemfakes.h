#pragma once
// Fakes for the modem layer's tests: a serial port whose far end is a
// script (each written command's answer lines become readable), and the
// configuration from a map. Single-threaded, like the channel's callers here.

#include "platform/serial/serial.h"
#include "src/components/config/itarvconfig.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ModemTest {

using Lines = std::vector<std::string>;

class CScriptedSerial : public CSerial {
public:
    CScriptedSerial() : CSerial("/dev/ttyATSERIAL2") {}

    bool IsDevicePresent() const override { return present; }
    bool IsOpen() const override { return open; }
    bool Open() override { return open = openSucceeds; }
    void Close() override { open = false; }
    void Flush() override { pending.clear(); }
    bool Write(const std::string& text) override
    {
        written.push_back(text);
        const std::string command = text.substr(0, text.find("\r\n"));
        const auto it = answers.find(command);
        const Lines lines = it != answers.end() ? it->second : fallback ? fallback(command) : Lines {};
        pending.insert(pending.end(), lines.begin(), lines.end());
        return writeSucceeds;
    }
    bool Read(std::string& line) override
    {
        if (!open || pending.empty()) {
            open = open && !vanishWhenDrained;
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
    std::map<std::string, Lines> answers;
    std::function<Lines(const std::string&)> fallback;
    Lines written;
};

// Missing keys read as false / empty.
class CFakeConfig : public ITarvConfig {
public:
    bool GetBool(EConfigKey key) const override { return bools.count(key) != 0 && bools.at(key); }
    std::string GetString(EConfigKey key) const override { return strings.count(key) != 0 ? strings.at(key) : ""; }
    std::vector<EConfigKey> CheckChanges() override { return {}; }
    std::map<EConfigKey, bool> bools;
    std::map<EConfigKey, std::string> strings;
};

} // namespace ModemTest
