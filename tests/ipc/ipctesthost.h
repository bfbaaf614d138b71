#pragma once
// Test helpers: an IPC host in a temporary root running its two threads,
// recorders of notifications, and error texts.

#include "platform/ipc/appcommunicationhost.h"
#include "tests/support/recorder.h"
#include "tests/support/tempdir.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace IpcTest {

using Host = AppCommunicationHost<GrpcBackend>;

// Writes etc/iipc.json of the temporary root with every name on its own socket.
void WriteConfiguration(const TestSupport::CTempDir& root);

// A non-blocking Unix socket on path: bound and listening with the backlog
// (bound only when backlog is -1), or connecting when connect is set.
int Socket(const std::string& path, int backlog, bool connect = false);

// A host in the temporary root (set as the root directory) whose RunServer
// and HandleClientNotifications threads run from Start until Stop.
class CRunningHost {
public:
    explicit CRunningHost(const TestSupport::CTempDir& root, std::shared_ptr<IIpcObserver> observer = nullptr);
    ~CRunningHost() { Stop(); }
    // Binds the added services and starts both threads.
    void Start();
    void Stop();
    const std::shared_ptr<Host>& Get() const { return mHost; }

private:
    std::shared_ptr<Host> mHost;
    std::jthread mServer;
    std::jthread mClients;
};

// The text of the std::runtime_error the action throws, or "no error".
template <typename Action>
std::string ErrorOf(Action action)
{
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no error";
}

using TestSupport::CRecorder;

// Follows the subscriber counts the host reports.
class CSubscribers : public IIpcObserver, public CRecorder<std::pair<std::string, std::size_t>> {
public:
    void SubscribersChanged(const std::string& service, std::size_t count) override { Add({service, count}); }
    // Waits until the last count reported is count for the service.
    bool WaitFor(const std::string& service, std::size_t count) { return WaitForLast({service, count}); }
};

// Records each state notification as the state's number, each alive tick as kAlive.
class CStates : public IProcessControl, public CRecorder<int> {
public:
    static constexpr int kAlive = -1; // no state's number
    void NotifyState(const ipc::MState& state) override { Add(state.state()); }
    void NotifyAlive() override { Add(kAlive); }
};

// A board controller that grants every reboot request.
class CBoardController : public IBoardControl {
public:
    bool RebootRequest() override { return true; }
};

} // namespace IpcTest
