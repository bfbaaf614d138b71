#include "tools/modemsim/pseudoterminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace {

[[noreturn]] void Fail(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

CPseudoTerminal::CPseudoTerminal()
{
    mMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (mMaster < 0) {
        Fail("posix_openpt");
    }
    std::array<char, 128> name {};
    if (::grantpt(mMaster) != 0 || ::unlockpt(mMaster) != 0 || ::ptsname_r(mMaster, name.data(), name.size()) != 0) {
        const int err = errno;
        ::close(mMaster);
        errno = err;
        Fail("pseudo-terminal set-up");
    }
    mSlavePath = name.data();
    mSlave = ::open(mSlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios tio {};
    if (mSlave < 0 || ::tcgetattr(mSlave, &tio) != 0) {
        const int err = errno;
        if (mSlave >= 0) {
            ::close(mSlave);
        }
        ::close(mMaster);
        errno = err;
        Fail("pseudo-terminal slave");
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(mSlave, TCSANOW, &tio);
}

CPseudoTerminal::~CPseudoTerminal()
{
    ::close(mSlave);
    ::close(mMaster);
}

std::string CPseudoTerminal::Read()
{
    std::string data;
    std::array<char, 1024> chunk {};
    while (true) {
        const ssize_t n = ::read(mMaster, chunk.data(), chunk.size());
        if (n > 0) {
            data.append(chunk.data(), static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return data;
    }
}

std::size_t CPseudoTerminal::Write(const std::string& data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(mMaster, data.data() + written, data.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return written;
}
