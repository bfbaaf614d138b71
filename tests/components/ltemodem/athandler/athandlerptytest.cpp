// The channel over a real pseudo-terminal, with a small scripted modem on
// the master side.

#include "src/components/ltemodem/athandler.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

class CPtyModem {
public:
    // Receives each command line; returns the bytes to send back, or nullopt
    // to hang up.
    using Script = std::function<std::optional<std::string>(const std::string&)>;

    explicit CPtyModem(Script script) : mScript(std::move(script))
    {
        mMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (mMaster >= 0 && ::grantpt(mMaster) == 0 && ::unlockpt(mMaster) == 0) {
            mSlavePath = ::ptsname(mMaster);
        }
        mThread = std::thread([this] { Run(); });
    }
    ~CPtyModem()
    {
        mStop = true;
        mThread.join();
        if (mMaster >= 0) {
            ::close(mMaster);
        }
    }
    const std::string& SlavePath() const { return mSlavePath; }

private:
    void Run()
    {
        std::string buffer;
        while (!mStop && mMaster >= 0) {
            pollfd pfd {mMaster, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            char chunk[256];
            const ssize_t n = ::read(mMaster, chunk, sizeof chunk);
            if (n <= 0) {
                continue;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = buffer.find("\r\n")) != std::string::npos) {
                const auto reply = mScript(buffer.substr(0, end));
                buffer.erase(0, end + 2);
                if (!reply) {
                    ::close(mMaster);
                    mMaster = -1;
                    return;
                }
                if (::write(mMaster, reply->data(), reply->size()) < 0) {
                    return;
                }
            }
        }
    }

    Script mScript;
    int mMaster = -1; // used by the peer thread only once it runs
    std::string mSlavePath;
    std::atomic<bool> mStop {false};
    std::thread mThread;
};

std::optional<std::string> Modem(const std::string& command)
{
    static const std::map<std::string, std::optional<std::string>> replies = {
        {"ATE0", "ATE0\r\r\nOK\r\n"},
        {"AT", "\r\nOK\r\n"},
        {"AT+CPIN?", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
        {"AT+QCCID", std::string(10000, 'x')},
        {"AT+COPS?", std::nullopt},
    };
    const auto it = replies.find(command);
    return it == replies.end() ? "\r\nERROR\r\n" : it->second;
}

const AtCommand kCpin {.command = "AT+CPIN?", .expected = "+CPIN:", .timeout = 6000ms};
const AtCommand kCcid {.command = "AT+QCCID", .expected = "+QCCID:", .timeout = 300ms};
const AtCommand kCops {.command = "AT+COPS?", .expected = "+COPS:", .timeout = 181000ms};

TEST(AtHandlerPtyTest, ExchangesOverARealPort)
{
    CPtyModem modem(Modem);
    CAtHandler handler(std::make_unique<CSerial>(modem.SlavePath()), IClock::Steady(),
                       {.bannerTimeout = 200ms, .bannerPoll = 100ms, .answerPoll = 25ms});
    ASSERT_TRUE(handler.IsSerialPresent());
    ASSERT_TRUE(handler.InitializeSerial());

    const AtResponse pin = handler.SendCommand(kCpin);
    EXPECT_EQ(pin.result, EAtResult::Ok);
    EXPECT_EQ(pin.values, std::vector<std::string> {"READY"});

    // A line that never ends is dropped by the port and runs into the time limit.
    EXPECT_EQ(handler.SendCommand(kCcid).result, EAtResult::Timeout);
    EXPECT_EQ(handler.SendCommand(kCpin).result, EAtResult::Ok);

    // The modem hangs up in the middle of a command with a three-minute limit.
    const AtResponse lost = handler.SendCommand(kCops);
    EXPECT_EQ(lost.result, EAtResult::SerialError);
    EXPECT_EQ(handler.SendCommand(kCpin).result, EAtResult::SerialError);
}

} // namespace
