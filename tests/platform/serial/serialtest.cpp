#include "platform/serial/serial.h"

#include "platform/rootdir/rootdir.h"
#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TestSupport::CLogCapture;
using TestSupport::CTempDir;

constexpr auto kShortTimeout = 10ms;

// The far end of the serial line: a pseudo-terminal master whose slave is
// the device the port opens.
class CPtyPeer {
public:
    CPtyPeer()
    {
        mMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (mMaster >= 0 && ::grantpt(mMaster) == 0 && ::unlockpt(mMaster) == 0) {
            mSlavePath = ::ptsname(mMaster);
        }
    }
    ~CPtyPeer() { Close(); }
    CPtyPeer(const CPtyPeer&) = delete;
    CPtyPeer& operator=(const CPtyPeer&) = delete;

    bool Valid() const { return mMaster >= 0 && !mSlavePath.empty(); }
    const std::string& SlavePath() const { return mSlavePath; }

    void Close()
    {
        if (mMaster >= 0) {
            ::close(mMaster);
            mMaster = -1;
        }
    }

    void Send(const std::string& text) const
    {
        ASSERT_EQ(::write(mMaster, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // What the port sent: reads until `expected` bytes arrived or a second
    // passed without them.
    std::string Receive(std::size_t expected) const
    {
        std::string data;
        char chunk[256];
        pollfd pfd {mMaster, POLLIN, 0};
        while (data.size() < expected && ::poll(&pfd, 1, 1000) > 0) {
            const ssize_t n = ::read(mMaster, chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            data.append(chunk, static_cast<std::size_t>(n));
        }
        return data;
    }

private:
    int mMaster = -1;
    std::string mSlavePath;
};

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mPeer.Valid());
        CRootDir::Set(mRoot.Root());
        std::filesystem::create_directories(mRoot.Path() + "/dev");
        std::filesystem::create_symlink(mPeer.SlavePath(), mRoot.Path() + "/dev/ttyATSERIAL2");
    }
    void TearDown() override { CRootDir::Set("/"); }

    CTempDir mRoot;
    CPtyPeer mPeer;
};

TEST_F(SerialTest, OpensTheDeviceUnderTheRootDirectory)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    EXPECT_EQ(port.Path(), mRoot.Root() + "dev/ttyATSERIAL2");
    EXPECT_TRUE(port.IsDevicePresent());
    EXPECT_FALSE(port.IsOpen());
    ASSERT_TRUE(port.Open());
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Open()); // already open
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    std::string line;
    EXPECT_FALSE(port.Read(line));
    EXPECT_FALSE(port.Write("AT\r\n"));
}

TEST_F(SerialTest, MissingDeviceOrNonTerminalDoesNotOpen)
{
    CLogCapture log;
    CSerial missing("/dev/ttyUSB7", kShortTimeout);
    EXPECT_FALSE(missing.IsDevicePresent());
    EXPECT_FALSE(missing.Open());
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_TRUE(log.ContainsSubstring("Cannot open serial port " + mRoot.Root() + "dev/ttyUSB7"));

    mRoot.WriteFile("dev/plainfile", "OK\n");
    CSerial plain("/dev/plainfile", kShortTimeout);
    EXPECT_TRUE(plain.IsDevicePresent());
    EXPECT_FALSE(plain.Open());
    EXPECT_FALSE(plain.IsOpen());
    EXPECT_TRUE(log.ContainsSubstring("Cannot configure serial port"));
}

TEST_F(SerialTest, ExchangesRawLinesBothWays)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());

    // Raw mode: no output translation, no echo.
    ASSERT_TRUE(port.Write("AT+CPIN?\r\n"));
    EXPECT_EQ(mPeer.Receive(10), "AT+CPIN?\r\n");

    mPeer.Send("\r\n+CPIN: READY\r\n\r\nOK\r\nbare\n");
    std::string line = "stale";
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "+CPIN: READY");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "OK");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "bare");
    EXPECT_FALSE(port.Read(line));
    EXPECT_TRUE(port.IsOpen()); // a quiet line is not an error

    // Echoed commands end in "\r\r\n"; control characters inside a line stay.
    mPeer.Send("AT\r\r\nx\ty\x01\r\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "AT");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "x\ty\x01");

    // 8-bit clean in both directions.
    ASSERT_TRUE(port.Write(std::string("\x00\xff\x11\x13\x03", 5)));
    EXPECT_EQ(mPeer.Receive(5), std::string("\x00\xff\x11\x13\x03", 5));
}

TEST_F(SerialTest, PartialLineIsKeptUntilItsEndArrives)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());
    std::string line;

    mPeer.Send("+CSQ: 2");
    EXPECT_FALSE(port.Read(line));
    mPeer.Send("1,99\r");
    EXPECT_FALSE(port.Read(line));
    mPeer.Send("\nAPP");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "+CSQ: 21,99");
    mPeer.Send(" RDY\r\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "APP RDY");
}

TEST_F(SerialTest, FlushDropsUnreadInput)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());
    std::string line;

    mPeer.Send("old line\r\nhalf of an old");
    ASSERT_TRUE(port.Read(line)); // pulls everything into the buffer
    EXPECT_EQ(line, "old line");
    mPeer.Send("\r\nunread\r\n");
    port.Flush();
    mPeer.Send("OK\r\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "OK");
}

TEST_F(SerialTest, OverlongLineIsDroppedAndReadingContinues)
{
    CLogCapture log;
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());
    std::string line;

    // A line of exactly the limit is delivered.
    const std::string longest(CSerial::kMaxLineLength, 'a');
    for (std::size_t i = 0; i < longest.size(); i += 1000) {
        mPeer.Send(longest.substr(i, 1000));
        EXPECT_FALSE(port.Read(line));
    }
    mPeer.Send("\r\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, longest);

    // 10000 bytes without a line end, in pieces (the terminal buffers only
    // 4 KiB): the line is dropped with one warning, the next one arrives.
    for (int i = 0; i < 10; ++i) {
        mPeer.Send(std::string(1000, 'x'));
        EXPECT_FALSE(port.Read(line));
    }
    mPeer.Send("tail of the long line\r\nOK\r\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "OK");
    EXPECT_EQ(log.Texts(Log::warning).size(), 1u);

    // One byte over the limit, line end in the same piece, is dropped too.
    mPeer.Send(std::string(CSerial::kMaxLineLength - 1000, 'y'));
    EXPECT_FALSE(port.Read(line));
    mPeer.Send(std::string(1001, 'y') + "\nnext\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "next");
    EXPECT_EQ(log.Texts(Log::warning).size(), 2u);
    EXPECT_TRUE(port.IsOpen());
}

// The modem vanishing (USB reset, power cut) must end a read at once, not
// after the read timeout, and leave the port closed: with a partial line
// buffered, while a read waits, and on a write (which may carry a PIN).
TEST_F(SerialTest, VanishedPeerClosesThePort)
{
    for (const char* when : {"buffered", "during read", "write"}) {
        SCOPED_TRACE(when);
        CPtyPeer peer;
        ASSERT_TRUE(peer.Valid());
        const std::string link = mRoot.Path() + "/dev/ttyATSERIAL2";
        std::filesystem::remove(link);
        std::filesystem::create_symlink(peer.SlavePath(), link);
        CSerial port("/dev/ttyATSERIAL2", 5s);
        ASSERT_TRUE(port.Open());
        CLogCapture log;
        std::string line;
        const auto start = std::chrono::steady_clock::now();
        if (std::string(when) == "write") {
            peer.Close();
            EXPECT_FALSE(port.Write("AT+CPIN=1234\r\n"));
            EXPECT_FALSE(log.ContainsSubstring("1234"));
        } else if (std::string(when) == "buffered") {
            peer.Send("complete\r\nincomplete");
            ASSERT_TRUE(port.Read(line));
            EXPECT_EQ(line, "complete");
            peer.Close();
            EXPECT_FALSE(port.Read(line));
            EXPECT_TRUE(log.ContainsSubstring("Serial port " + port.Path() + " lost"));
        } else {
            std::thread closer([&peer] {
                std::this_thread::sleep_for(50ms);
                peer.Close();
            });
            EXPECT_FALSE(port.Read(line));
            closer.join();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "waited for the read timeout";
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(port.Write("AT\r\n"));
    }
}

TEST_F(SerialTest, ReopensWhenTheDeviceComesBack)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());
    mPeer.Send("left over from the old device");
    std::string line;
    EXPECT_FALSE(port.Read(line));
    mPeer.Close();
    EXPECT_FALSE(port.Read(line));
    ASSERT_FALSE(port.IsOpen());

    // The modem powers up again under the same name.
    CPtyPeer replacement;
    ASSERT_TRUE(replacement.Valid());
    const std::string link = mRoot.Path() + "/dev/ttyATSERIAL2";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(replacement.SlavePath(), link);
    ASSERT_TRUE(port.Open());
    replacement.Send("APP RDY\r\n");
    ASSERT_TRUE(port.Read(line));
    EXPECT_EQ(line, "APP RDY"); // no partial line carried over
}

} // namespace
