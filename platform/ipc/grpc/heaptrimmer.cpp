#include "platform/ipc/grpc/heaptrimmer.h"

#include "platform/toolbox/memorytrim.h"

#include <unistd.h>

#include <fstream>
#include <utility>

namespace IpcGrpc {

CHeapTrimmer::CHeapTrimmer(std::size_t slack, SizeReader readSize, Trimmer trim)
    : mSlack(slack)
    , mReadSize(std::move(readSize))
    , mTrim(trim ? std::move(trim) : Trimmer(&CMemoryTrim::Trim))
{
}

bool CHeapTrimmer::Check()
{
    const std::size_t size = mReadSize();
    if (size == 0) {
        return false;
    }
    if (!mMeasured || size < mBaseline) {
        mMeasured = true;
        mBaseline = size; // follows the size down, so growth counts from its low
        return false;
    }
    if (size - mBaseline <= mSlack) {
        return false;
    }
    mTrim();
    // Growth that a trim cannot give back (pages of code, live data) raises
    // the baseline instead of causing a trim at every check.
    const std::size_t after = mReadSize();
    mBaseline = after != 0 ? after : size;
    return true;
}

std::size_t CHeapTrimmer::ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) {
        return 0;
    }
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return resident * static_cast<std::size_t>(pageSize > 0 ? pageSize : 4096);
}

} // namespace IpcGrpc
