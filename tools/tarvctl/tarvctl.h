#pragma once
// Command-line client of the network manager: drives its lifecycle, shows
// its state and notifications and reads or sets its log level, through the
// same IPC configuration file the daemon reads.

#include <iosfwd>
#include <string>
#include <vector>

class CTarvCtl {
public:
    CTarvCtl(std::ostream& out, std::ostream& err) : mOut(out), mErr(err) {}
    // Runs one command line (without the program name); returns the exit code.
    int Run(const std::vector<std::string>& arguments);

private:
    int Usage();

    std::ostream& mOut;
    std::ostream& mErr;
};
