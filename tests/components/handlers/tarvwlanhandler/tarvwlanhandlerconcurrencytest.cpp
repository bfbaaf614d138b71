#include "tests/components/handlers/tarvwlanhandler/wlanhandlerfixture.h"

#include <thread>

using namespace HandlerMocks;

namespace {

using WlanHandlerConcurrencyTest = WlanHandlerFixture;

// Status readers and a disconnecting lifecycle thread against the running
// poll: the cached status must never be read half-written, and after the
// last Disconnect no poll may mark the link connected again.
TEST_F(WlanHandlerConcurrencyTest, PollAgainstStatusReadersAndDisconnect)
{
    constexpr int kRounds = 30;
    CTarvWlanHandler& wlan = Handler();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const ipc::MNetStatus status = wlan.GetStatus();
            const bool connected = status.connectionstate() == ipc::MNetStatus::EConnected;
            // Connected always comes with its signal and address, disconnected without.
            EXPECT_EQ(status.signalstrength() == -55 && status.properties().ipaddress() == "192.168.8.20",
                      connected);
        }
    });
    std::thread ticker([&] {
        while (!stop) {
            clock->Advance(CTarvWlanHandler::kStatusPollPeriod);
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        bool ok = true;
        wlan.Enable(ok);
        ASSERT_TRUE(ok);
        scan->WaitForStationQueries(round + 1);
        wlan.Disconnect();
        EXPECT_EQ(wlan.GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
    }
    stop = true;
    reader.join();
    ticker.join();
    EXPECT_EQ(wlan.GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
}

} // namespace
