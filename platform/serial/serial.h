#pragma once
// A serial port in raw mode (115200 8N1, no flow control) that is read
// line by line. The device path is resolved under the root directory when
// the object is created. Every wait is bounded: a read waits at most the
// read timeout, a write at most kWriteTimeout. A device that disappears
// (USB unplug, modem power-off) closes the port; Open() may be called again
// once the device is back.
//
// All operations may be called from any thread; they are serialised
// internally.

#include <chrono>
#include <mutex>
#include <string>

class CSerial {
public:
    static constexpr std::chrono::milliseconds kDefaultReadTimeout {100};
    static constexpr std::chrono::milliseconds kWriteTimeout {1000};
    // Longest line (without its line end) that Read() hands out; longer
    // lines are dropped whole with a warning, so a peer that never sends a
    // line end cannot make the buffer grow without limit.
    static constexpr std::size_t kMaxLineLength = 4096;

    explicit CSerial(const std::string& devicePath,
                     std::chrono::milliseconds readTimeout = kDefaultReadTimeout);
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // The resolved device path.
    const std::string& Path() const { return mPath; }

    // Whether the device node exists.
    virtual bool IsDevicePresent() const;
    virtual bool IsOpen() const;
    // Opens and configures the port; true when it is open afterwards.
    virtual bool Open();
    virtual void Close();
    // Discards everything received and not yet read (including a buffered
    // partial line) and everything written but not yet sent.
    virtual void Flush();
    // Writes the whole text; false when the port is closed, the device is
    // gone or the text could not be sent within kWriteTimeout.
    virtual bool Write(const std::string& text);
    // One line without its line end ("\n", with any "\r" before it
    // removed); false when no complete line arrived within the read
    // timeout, the port is closed or the device vanished.
    virtual bool Read(std::string& line);

    void SetReadTimeout(std::chrono::milliseconds timeout);

private:
    void CloseLocked();
    bool TakeLine(std::string& line);
    void DeviceLost(const char* operation, int err);

    const std::string mPath;
    mutable std::mutex mMutex;
    std::chrono::milliseconds mReadTimeout; // guarded by mMutex
    int mFd = -1;                           // guarded by mMutex
    // Received bytes not yet handed out as lines; guarded by mMutex.
    std::string mBuffer;
    // Dropping the rest of an overlong line up to its line end; guarded by mMutex.
    bool mDiscarding = false;
};
