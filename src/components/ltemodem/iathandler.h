#pragma once
// The modem's AT command port: opening it, and one command exchange at a time.

#include "src/components/ltemodem/atcommand.h"

#include <string>

class IAtHandler {
public:
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
};
