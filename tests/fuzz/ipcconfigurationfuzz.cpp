// libFuzzer target for etc/iipc.json (scripts/fuzz.sh), read from an
// in-memory file: an accepted endpoint fits a socket address; every
// refusal names the file.

#include "platform/ipc/ipcconfiguration.h"

#include <sys/mman.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int fd = ::memfd_create("iipc.json", MFD_CLOEXEC);
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        const CIpcConfiguration configuration(path);
        if (configuration.GetEndpoint("Tarv").socketPath.size() >= sizeof(sockaddr_un::sun_path)) {
            std::abort();
        }
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).find(path) == std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
