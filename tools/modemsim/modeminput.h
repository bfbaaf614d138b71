#pragma once
// Assembles the command lines the simulated modem receives: a line ends
// with CR, a LF at the start of a line is dropped, and a line longer than
// the limit is refused as a whole. Not thread-safe: the simulator calls it
// with its lock held.

#include <cstddef>
#include <string>

class CModemInput {
public:
    enum class EEnd {
        None,    // the byte did not end a line
        Line,    // a line ended (it may be empty)
        TooLong, // a line longer than the limit ended
    };

    explicit CModemInput(std::size_t limit);

    // Takes one received byte; when it ends a line, line holds that line.
    EEnd Take(char c, std::string& line);
    // Drops the line received so far.
    void DropLine() { mLine.clear(); }
    // Drops it and forgets that it was too long.
    void Reset();

private:
    const std::size_t mLimit;
    std::string mLine;
    bool mOverflow = false;
};
