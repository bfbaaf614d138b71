#include "platform/serial/serial.h"

#include "tests/support/logcapture.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

namespace {

using namespace std::chrono_literals;
using TestSupport::CLogCapture;

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

    void Close() { ::close(std::exchange(mMaster, -1)); }

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
        std::filesystem::create_directories(mRoot.Path() + "/dev");
        Relink(mPeer);
    }
    // Points the device name at the peer, as when the modem comes back.
    void Relink(const CPtyPeer& peer) const
    {
        ASSERT_TRUE(peer.Valid());
        const std::string link = mRoot.Path() + "/dev/ttyATSERIAL2";
        std::filesystem::remove(link);
        std::filesystem::create_symlink(peer.SlavePath(), link);
    }

    TestSupport::CTempRoot mRoot;
    CPtyPeer mPeer;
};

using Lines = std::vector<std::string>;

// Every line that has arrived; a quiet line ends the list.
Lines ReadAll(CSerial& port)
{
    Lines lines;
    std::string line = "stale";
    while (port.Read(line)) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(SerialTest, OpensOnlyATerminal)
{
    mRoot.WriteFile("dev/plainfile", "OK\n");
    const std::tuple<const char*, bool, bool> cases[] = { // device, present, opens
        {"/dev/ttyATSERIAL2", true, true},
        {"/dev/ttyUSB7", false, false},
        {"/dev/plainfile", true, false},
    };
    for (const auto& [device, present, opens] : cases) {
        SCOPED_TRACE(device);
        CSerial port(device, kShortTimeout);
        EXPECT_EQ(port.IsDevicePresent(), present);
        EXPECT_EQ(port.Open(), opens);
        EXPECT_EQ(port.IsOpen(), opens);
        EXPECT_EQ(port.Open(), opens); // already open
        port.Close();
        std::string line;
        EXPECT_FALSE(port.Read(line));
        EXPECT_FALSE(port.Write("AT\r\n"));
    }
}

TEST_F(SerialTest, ExchangesRawLines)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());
    // Raw mode: no output translation, no echo, 8-bit clean.
    const std::string binary("AT+CPIN?\r\n\x00\xff\x11\x13\x03", 15);
    ASSERT_TRUE(port.Write(binary));
    EXPECT_EQ(mPeer.Receive(binary.size()), binary);

    // Sent, whether to flush before reading, the lines read.
    const std::tuple<std::string, bool, Lines> steps[] = {
        {"\r\n+CPIN: READY\r\n\r\nOK\r\nbare\n", false, {"", "+CPIN: READY", "", "OK", "bare"}},
        // Echoed commands end in "\r\r\n"; control characters inside a line stay.
        {"AT\r\r\nx\ty\x01\r\n", false, {"AT", "x\ty\x01"}},
        // A partial line is kept until its end arrives.
        {"+CSQ: 2", false, {}}, {"1,99\r", false, {}}, {"\nAPP", false, {"+CSQ: 21,99"}}, {" RDY\r\n", false, {"APP RDY"}},
        // Flush drops the buffered partial line and what the terminal holds.
        {"half of an old", false, {}}, {"\r\nunread\r\n", true, {}}, {"OK\r\n", false, {"OK"}},
    };
    for (const auto& [sent, flush, read] : steps) {
        SCOPED_TRACE(sent);
        mPeer.Send(sent);
        if (flush) {
            port.Flush();
        }
        EXPECT_EQ(ReadAll(port), read);
    }
    EXPECT_TRUE(port.IsOpen()); // a quiet line is not an error
}

TEST_F(SerialTest, DropsOverlongLinesWithAWarningEach)
{
    CSerial port("/dev/ttyATSERIAL2", kShortTimeout);
    ASSERT_TRUE(port.Open());
    CLogCapture log;
    // Sent in pieces: the terminal buffers only 4 KiB.
    const auto sendInPieces = [&](std::size_t length, char c) {
        for (std::size_t sent = 0; sent < length; sent += 1000) {
            mPeer.Send(std::string(std::min<std::size_t>(1000, length - sent), c));
            EXPECT_EQ(ReadAll(port), Lines{});
        }
    };
    // A line of exactly the limit is delivered.
    sendInPieces(CSerial::kMaxLineLength, 'a');
    mPeer.Send("\r\n");
    EXPECT_EQ(ReadAll(port), Lines{std::string(CSerial::kMaxLineLength, 'a')});
    // 10000 bytes without a line end: dropped with one warning, the next line arrives.
    sendInPieces(10000, 'x');
    mPeer.Send("tail of the long line\r\nOK\r\n");
    EXPECT_EQ(ReadAll(port), Lines{"OK"});
    EXPECT_EQ(log.Texts(Log::warning).size(), 1u);
    // One byte over the limit, line end in the same piece, is dropped too.
    sendInPieces(CSerial::kMaxLineLength - 1000, 'y');
    mPeer.Send(std::string(1001, 'y') + "\nnext\n");
    EXPECT_EQ(ReadAll(port), Lines{"next"});
    EXPECT_EQ(log.Texts(Log::warning).size(), 2u);
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialTest, ClosesAtOnceWhenThePeerVanishesAndReopens)
{
    // The modem vanishing (USB reset, power cut) must end a read at once, not
    // after the read timeout, and leave the port closed: with a partial line
    // buffered and on a write (which may carry a PIN). When it powers up again
    // under the same name the port reopens.
    for (const bool onWrite : {false, true}) {
        SCOPED_TRACE(onWrite ? "write" : "read");
        CPtyPeer peer;
        Relink(peer);
        CSerial modem("/dev/ttyATSERIAL2", 5s);
        ASSERT_TRUE(modem.Open());
        CLogCapture lost;
        std::string line;
        const auto start = std::chrono::steady_clock::now();
        if (onWrite) {
            peer.Close();
            EXPECT_FALSE(modem.Write("AT+CPIN=1234\r\n"));
            EXPECT_FALSE(lost.ContainsSubstring("1234"));
        } else {
            peer.Send("complete\r\nincomplete");
            ASSERT_TRUE(modem.Read(line));
            EXPECT_EQ(line, "complete");
            peer.Close();
            EXPECT_FALSE(modem.Read(line));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "waited for the read timeout";
        EXPECT_FALSE(modem.IsOpen());

        CPtyPeer replacement;
        Relink(replacement);
        ASSERT_TRUE(modem.Open());
        replacement.Send("APP RDY\r\n");
        ASSERT_TRUE(modem.Read(line));
        EXPECT_EQ(line, "APP RDY"); // no partial line carried over
    }
}

} // namespace
