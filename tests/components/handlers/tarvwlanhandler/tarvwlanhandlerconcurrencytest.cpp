#include "tests/components/handlers/tarvwlanhandler/wlanhandlerfixture.h"

#include <thread>

namespace {

// Status readers and a disconnecting lifecycle thread against the running
// poll: the cached status is never seen half-written, and once Disconnect
// returns no poll marks the link connected again.
using WlanHandlerConcurrencyTest = HandlerMocks::WlanHandlerFixture;

TEST_F(WlanHandlerConcurrencyTest, PollAgainstStatusReadersAndDisconnect)
{
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const ipc::MNetStatus status = wlan.GetStatus();
            EXPECT_EQ(status.signalstrength() == -55 && status.properties().ipaddress() == "192.168.8.20",
                      status.connectionstate() == ipc::MNetStatus::EConnected);
        }
    });
    std::thread ticker([&] {
        while (!stop) {
            clock->Advance(CTarvWlanHandler::kStatusPollPeriod), std::this_thread::yield();
        }
    });
    for (int round = 1; round <= 30; ++round) {
        bool ok = true;
        wlan.Enable(ok);
        scan->WaitForStationQueries(round);
        wlan.Disconnect();
        EXPECT_EQ(wlan.GetStatus().connectionstate(), ipc::MNetStatus::EDisconnected);
    }
    stop = true;
    reader.join();
    ticker.join();
}

} // namespace
