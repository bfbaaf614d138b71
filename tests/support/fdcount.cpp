#include "tests/support/fdcount.h"

#include <filesystem>
#include <iterator>

namespace TestSupport {

int OpenFdCount()
{
    // The iterator's own descriptor is counted too, the same in every call.
    std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(std::filesystem::begin(fds), std::filesystem::end(fds)));
}

} // namespace TestSupport
