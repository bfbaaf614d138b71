#pragma once
// The modem's AT command port: opening it, and one command exchange at a time.

#include "src/components/ltemodem/atcommand.h"

#include <functional>
#include <string>

class IAtHandler {
public:
    // Receives each unsolicited code the channel took out of the line.
    using UnsolicitedHandler = std::function<void(const std::string& line)>;
    // Called when the module shows that it started again behind an open
    // port (its banner, or the echo of a command after echo was switched off).
    using RestartHandler = std::function<void()>;

    virtual ~IAtHandler() = default;

    // Whether the modem's serial device exists (the modem is powered).
    virtual bool IsSerialPresent() = 0;
    // Opens the port, waits for the start-up banner and switches echo off.
    virtual bool InitializeSerial() = 0;
    virtual bool CloseSerial() = 0;
    // Sends the command and collects its answer; never throws. Commands from
    // several threads are exchanged one after the other.
    virtual AtResponse SendCommand(const AtCommand& command) = 0;
    virtual AtResponse SendCommand(const AtCommand& command, const std::string& arguments) = 0;
    // Set once before the first command; the handlers run on the thread of
    // the exchange that read the line, and must not send commands.
    virtual void SetEventHandlers(UnsolicitedHandler unsolicited, RestartHandler restarted) = 0;
    // Commands in a row that ended without their final line.
    virtual unsigned ConsecutiveTimeouts() = 0;
};
