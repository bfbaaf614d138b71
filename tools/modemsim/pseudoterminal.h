#pragma once
// A pseudo-terminal standing in for the modem's USB serial port. The
// master side is the modem; the slave is the device the daemon opens. The
// terminal holds a slave descriptor of its own in raw mode, so that bytes
// the modem sends before the daemon opens the device wait in the line
// buffer, nothing is echoed by the line discipline, and the daemon closing
// and re-opening the device does not hang the modem up. Destroying the
// terminal hangs up every open slave, as an unplugged USB device does.

#include <cstddef>
#include <string>

class CPseudoTerminal {
public:
    // Throws std::system_error when no pseudo-terminal can be created.
    CPseudoTerminal();
    ~CPseudoTerminal();
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    // Non-blocking master descriptor, for poll().
    int MasterFd() const { return mMaster; }
    const std::string& SlavePath() const { return mSlavePath; }

    // Bytes the daemon wrote; empty when none are waiting.
    std::string Read();
    // Writes as much as the terminal takes now; returns the bytes written.
    std::size_t Write(const std::string& data);

private:
    int mMaster = -1;
    int mSlave = -1;
    std::string mSlavePath;
};
