#include "tests/support/fdcount.h"

#include <dirent.h>

namespace TestSupport {

int OpenFdCount()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

} // namespace TestSupport
