#pragma once
// The board controller of the simulated station: answers the network
// manager's reboot requests by recording each one as a line in a file (the
// station itself stays up), and sends mains-lost notifications on request.

#include "platform/ipc/iboardcontrol.h"

#include <iosfwd>
#include <mutex>
#include <string>

class CBoardControlSim : public IBoardControl {
public:
    CBoardControlSim(std::string recordPath, std::ostream& out) : mRecordPath(std::move(recordPath)), mOut(out) {}

    // Appends "<UTC time> reboot requested" to the record; false when the
    // record cannot be written (a request that left no trace is refused).
    bool RebootRequest() override;

    // Sends a mains-lost notification to every subscribed client.
    void SendMainsLost();

private:
    std::mutex mMutex; // guards the record file and mOut
    const std::string mRecordPath;
    std::ostream& mOut;
};
