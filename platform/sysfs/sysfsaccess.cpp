#include "platform/sysfs/sysfsaccess.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace {

std::string ErrorText(int err)
{
    return std::generic_category().message(err);
}

// Closes a descriptor when it leaves scope.
class CFdGuard {
public:
    explicit CFdGuard(int fd) : mFd(fd) {}
    ~CFdGuard()
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    CFdGuard(const CFdGuard&) = delete;
    CFdGuard& operator=(const CFdGuard&) = delete;
    int Get() const { return mFd; }

private:
    int mFd;
};

} // namespace

bool CSysfsAccess::Write(const std::string& path, const std::string& value)
{
    const std::string file = CRootDir::Resolve(path);
    // O_TRUNC matters only for plain files standing in for sysfs in tests
    // and simulations; sysfs itself ignores it.
    CFdGuard fd(::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        const int err = errno;
        TLOG_ERROR("Cannot open {} for writing: {}", file, ErrorText(err));
        return false;
    }
    // A sysfs attribute takes its value in one write; a retry would start
    // a second, separate value, so a short write is an error.
    ssize_t n = -1;
    do {
        n = ::write(fd.Get(), value.data(), value.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int err = errno;
        TLOG_ERROR("Cannot write '{}' to {}: {}", value, file, ErrorText(err));
        return false;
    }
    if (static_cast<std::size_t>(n) != value.size()) {
        TLOG_ERROR("Cannot write '{}' to {}: only {} of {} bytes accepted", value, file, n, value.size());
        return false;
    }
    return true;
}

std::optional<std::string> CSysfsAccess::Read(const std::string& path)
{
    const std::string file = CRootDir::Resolve(path);
    CFdGuard fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        const int err = errno;
        TLOG_ERROR("Cannot open {} for reading: {}", file, ErrorText(err));
        return std::nullopt;
    }
    std::string value;
    std::array<char, 4096> chunk {};
    while (true) {
        const ssize_t n = ::read(fd.Get(), chunk.data(), chunk.size());
        if (n > 0) {
            value.append(chunk.data(), static_cast<std::size_t>(n));
            if (value.size() > kMaxValueBytes) {
                TLOG_ERROR("Cannot read {}: more than {} bytes", file, kMaxValueBytes);
                return std::nullopt;
            }
            continue;
        }
        if (n == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        const int err = errno;
        TLOG_ERROR("Cannot read {}: {}", file, ErrorText(err));
        return std::nullopt;
    }
    const auto end = value.find_last_not_of(" \t\r\n");
    value.erase(end == std::string::npos ? 0 : end + 1);
    return value;
}

bool CSysfsAccess::Exists(const std::string& path)
{
    return ::access(CRootDir::Resolve(path).c_str(), F_OK) == 0;
}
