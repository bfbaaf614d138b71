#include "tools/boardcontrolsim/boardcontrolsim.h"

#include "tools/stationpeer/peertime.h"

#include <fstream>
#include <ostream>

bool CBoardControlSim::RebootRequest()
{
    const std::string line = StationPeer::UtcNow() + " reboot requested";
    std::lock_guard lock(mMutex);
    std::ofstream record(mRecordPath, std::ios::app);
    record << line << '\n';
    record.flush();
    if (!record) {
        mOut << line << ": could not be recorded in " << mRecordPath << ", refused" << std::endl;
        return false;
    }
    mOut << line << std::endl;
    return true;
}

void CBoardControlSim::SendMainsLost()
{
    {
        std::lock_guard lock(mMutex);
        mOut << StationPeer::UtcNow() << " mains lost" << std::endl;
    }
    if (mMainsLostSender) {
        mMainsLostSender();
    }
}
