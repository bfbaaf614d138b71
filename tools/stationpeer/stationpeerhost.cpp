#include "tools/stationpeer/stationpeerhost.h"

#include "platform/rootdir/rootdir.h"

#include <csignal>
#include <iostream>
#include <thread>

namespace {

sigset_t PeerSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    return signals;
}

} // namespace

CStationPeerHost::CStationPeerHost(const std::string& root)
{
    const sigset_t signals = PeerSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    CRootDir::Set(root);
    mHost = std::make_shared<Host>(root + "etc/iipc.json");
}

int CStationPeerHost::Run(const std::function<void()>& onUser1)
{
    mHost->StartServices();
    std::jthread server([this] { mHost->RunServer(); });
    std::jthread clients([this] { mHost->HandleClientNotifications(); });
    const sigset_t signals = PeerSignals();
    for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) {
            continue;
        }
        if (received != SIGUSR1) {
            break;
        }
        onUser1();
    }
    mHost->Stop();
    return 0;
}
