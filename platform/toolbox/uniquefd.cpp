#include "platform/toolbox/uniquefd.h"

#include <unistd.h>

#include <cerrno>

CUniqueFd& CUniqueFd::operator=(CUniqueFd&& other) noexcept
{
    if (this != &other) {
        Close();
        mFd = other.Release();
    }
    return *this;
}

int CUniqueFd::Release() noexcept
{
    const int fd = mFd;
    mFd = -1;
    return fd;
}

bool CUniqueFd::Close() noexcept
{
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0;
}

bool CUniqueFd::WriteAll(std::string_view data) const
{
    while (!data.empty()) {
        const ssize_t written = ::write(mFd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}
