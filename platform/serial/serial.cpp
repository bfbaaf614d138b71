#include "platform/serial/serial.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

std::string ErrorText(int err)
{
    return err == 0 ? std::string("hang-up") : std::generic_category().message(err);
}

// Milliseconds left until the deadline, rounded up, never negative.
int RemainingMs(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

} // namespace

CSerial::CSerial(const std::string& devicePath, std::chrono::milliseconds readTimeout)
    : mPath(CRootDir::Resolve(devicePath))
    , mReadTimeout(readTimeout)
{
}

CSerial::~CSerial()
{
    std::lock_guard lock(mMutex);
    CloseLocked();
}

bool CSerial::IsDevicePresent() const
{
    return ::access(mPath.c_str(), F_OK) == 0;
}

bool CSerial::IsOpen() const
{
    std::lock_guard lock(mMutex);
    return mFd >= 0;
}

void CSerial::SetReadTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard lock(mMutex);
    mReadTimeout = timeout;
}

bool CSerial::Open()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    if (mFd >= 0) {
        return true;
    }
    const int fd = ::open(mPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        TLOG_ERROR("Cannot open serial port {}: {}", mPath, ErrorText(err));
        return false;
    }

    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        TLOG_ERROR("Cannot configure serial port {}: {}", mPath, ErrorText(err));
        ::close(fd);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With O_NONBLOCK, VMIN 1 makes read() report "no data" as EAGAIN, so a
    // return of 0 means the device hung up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        TLOG_ERROR("Cannot configure serial port {}: {}", mPath, ErrorText(err));
        ::close(fd);
        return false;
    }

    mFd = fd;
    mBuffer.clear();
    mDiscarding = false;
    TLOG_INFO("Serial port {} opened", mPath);
    return true;
}

void CSerial::Close()
{
    TLOG_FUNCTION();
    std::lock_guard lock(mMutex);
    CloseLocked();
}

void CSerial::CloseLocked()
{
    if (mFd < 0) {
        return;
    }
    ::close(mFd);
    mFd = -1;
    mBuffer.clear();
    mDiscarding = false;
    TLOG_INFO("Serial port {} closed", mPath);
}

void CSerial::DeviceLost(const char* operation, int err)
{
    TLOG_ERROR("Serial port {} lost ({} failed: {}), closing it", mPath, operation, ErrorText(err));
    CloseLocked();
}

void CSerial::Flush()
{
    std::lock_guard lock(mMutex);
    if (mFd < 0) {
        return;
    }
    ::tcflush(mFd, TCIOFLUSH);
    mBuffer.clear();
    mDiscarding = false;
}

bool CSerial::Write(const std::string& text)
{
    std::lock_guard lock(mMutex);
    if (mFd < 0) {
        TLOG_ERROR("Cannot write to serial port {}: it is not open", mPath);
        return false;
    }
    // The text itself is never logged: commands may carry a PIN.
    const auto deadline = Clock::now() + kWriteTimeout;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(mFd, text.data() + written, text.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        const int err = n < 0 ? errno : EAGAIN;
        if (err == EINTR) {
            continue;
        }
        if (err != EAGAIN && err != EWOULDBLOCK) {
            DeviceLost("write", err);
            return false;
        }
        const int remaining = RemainingMs(deadline);
        if (remaining == 0) {
            TLOG_ERROR("Write to serial port {} timed out after {} of {} bytes", mPath, written, text.size());
            return false;
        }
        pollfd pfd {mFd, POLLOUT, 0};
        const int ready = ::poll(&pfd, 1, remaining);
        if (ready < 0 && errno != EINTR) {
            DeviceLost("poll", errno);
            return false;
        }
        if (ready > 0 && (pfd.revents & POLLOUT) == 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            DeviceLost("write", EIO);
            return false;
        }
    }
    return true;
}

bool CSerial::TakeLine(std::string& line)
{
    while (true) {
        const auto end = mBuffer.find('\n');
        if (end == std::string::npos) {
            if (mBuffer.size() > kMaxLineLength) {
                if (!mDiscarding) {
                    TLOG_WARN("Serial port {}: line longer than {} bytes dropped", mPath, kMaxLineLength);
                }
                mDiscarding = true;
                mBuffer.clear();
            }
            return false;
        }
        if (mDiscarding) {
            // The line end of a line that was already reported and dropped.
            mBuffer.erase(0, end + 1);
            mDiscarding = false;
            continue;
        }
        std::size_t length = end;
        while (length > 0 && mBuffer[length - 1] == '\r') {
            --length;
        }
        if (length > kMaxLineLength) {
            TLOG_WARN("Serial port {}: line longer than {} bytes dropped", mPath, kMaxLineLength);
            mBuffer.erase(0, end + 1);
            continue;
        }
        line.assign(mBuffer, 0, length);
        mBuffer.erase(0, end + 1);
        return true;
    }
}

bool CSerial::Read(std::string& line)
{
    std::lock_guard lock(mMutex);
    if (mFd < 0) {
        return false;
    }
    if (TakeLine(line)) {
        return true;
    }

    const auto deadline = Clock::now() + mReadTimeout;
    std::array<char, 1024> chunk {};
    bool first = true;
    while (true) {
        const int remaining = RemainingMs(deadline);
        // A peer that streams without ever sending a line end must not keep
        // the caller beyond the timeout.
        if (remaining == 0 && !first) {
            return false;
        }
        first = false;

        pollfd pfd {mFd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, remaining);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            DeviceLost("poll", errno);
            return false;
        }
        if (ready == 0) {
            return false;
        }
        if ((pfd.revents & POLLNVAL) != 0) {
            DeviceLost("poll", EBADF);
            return false;
        }

        const ssize_t n = ::read(mFd, chunk.data(), chunk.size());
        if (n > 0) {
            mBuffer.append(chunk.data(), static_cast<std::size_t>(n));
            if (TakeLine(line)) {
                return true;
            }
            continue;
        }
        if (n == 0) {
            DeviceLost("read", 0);
            return false;
        }
        const int err = errno;
        if (err == EINTR) {
            continue;
        }
        if (err == EAGAIN || err == EWOULDBLOCK) {
            if ((pfd.revents & (POLLHUP | POLLERR)) != 0) {
                DeviceLost("read", 0);
                return false;
            }
            continue;
        }
        DeviceLost("read", err);
        return false;
    }
}
