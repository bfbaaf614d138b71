#include "tests/ipc/ipctesthost.h"

#include "platform/rootdir/rootdir.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

namespace IpcTest {

void WriteConfiguration(const TestSupport::CTempDir& root)
{
    root.WriteFile("etc/iipc.json", R"({"TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock",
  "Tarv": "unix:/run/iipc/tarv.sock", "TarvLog": "unix:/run/iipc/tarvlog.sock",
  "BoardControl": "unix:/run/iipc/boardcontrol.sock", "Diagnostics": "unix:/run/iipc/diagnostics.sock"})");
}

int Socket(const std::string& path, int backlog, bool connect)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (connect) {
        ::connect(fd, raw, sizeof(address));
    } else if (::bind(fd, raw, sizeof(address)) != 0 || (backlog >= 0 && ::listen(fd, backlog) != 0)) {
        throw std::runtime_error("test socket set-up failed");
    }
    return fd;
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
