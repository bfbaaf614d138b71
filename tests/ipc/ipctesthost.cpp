#include "tests/ipc/ipctesthost.h"

#include "platform/rootdir/rootdir.h"

namespace IpcTest {

void WriteConfiguration(const TestSupport::CTempDir& root)
{
    root.WriteFile("etc/iipc.json", R"({"TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock",
  "Tarv": "unix:/run/iipc/tarv.sock", "TarvLog": "unix:/run/iipc/tarvlog.sock",
  "BoardControl": "unix:/run/iipc/boardcontrol.sock", "Diagnostics": "unix:/run/iipc/diagnostics.sock"})");
}

CRunningHost::CRunningHost(const TestSupport::CTempDir& root, std::shared_ptr<IIpcObserver> observer)
{
    CRootDir::Set(root.Root());
    mHost = std::make_shared<Host>(root.Root() + "etc/iipc.json", std::move(observer));
}

void CRunningHost::Start()
{
    mHost->StartServices();
    mServer = std::jthread([host = mHost] { host->RunServer(); });
    mClients = std::jthread([host = mHost] { host->HandleClientNotifications(); });
}

void CRunningHost::Stop()
{
    mHost->Stop();
    // Joins both threads.
    mServer = {};
    mClients = {};
}

} // namespace IpcTest
