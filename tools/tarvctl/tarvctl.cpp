#include "tools/tarvctl/tarvctl.h"

#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/communicationexception.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

#include <chrono>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using Host = AppCommunicationHost<GrpcBackend>;

const char* StateName(int state)
{
    switch (state) {
    case ipc::MState::Invalid: return "Invalid";
    case ipc::MState::Uninitialized: return "Uninitialized";
    case ipc::MState::Disabled: return "Disabled";
    case ipc::MState::Enabled: return "Enabled";
    case ipc::MState::Error: return "Error";
    case ipc::MState::FatalError: return "FatalError";
    case ipc::MState::Commission: return "Commission";
    default: return "Unknown";
    }
}

const char* ConnectionName(ipc::MNetStatus::EConnectionState state)
{
    switch (state) {
    case ipc::MNetStatus::EConnected: return "connected";
    case ipc::MNetStatus::EDisconnected: return "disconnected";
    default: return "not-set";
    }
}

std::string Timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local {};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%H:%M:%S", &local);
    return text;
}

// Prints every notification on its own line as it arrives.
class CPrinter : public IProcessControl, public ITarvClient {
public:
    explicit CPrinter(std::ostream& out) : mOut(out) {}

    void NotifyState(const ipc::MState& state) override
    {
        Line("state " + std::to_string(state.state()) + " " + StateName(state.state()));
    }
    void NotifyAlive() override { Line("alive"); }
    void NotifyStatus(const ipc::MNetStatus& status) override
    {
        std::string line = "status " + ipc::EIfName_Name(status.interface()) + " " +
                           ConnectionName(status.connectionstate());
        if (status.has_properties()) {
            line += " ip " + status.properties().ipaddress() + " mask " + status.properties().subnetmask() +
                    " gateway " + status.properties().defaultgateway();
        }
        if (status.has_dns()) {
            line += " dns " + status.dns().primarydns() + " " + status.dns().secondarydns();
        }
        if (status.optionalSignalStrength_case() == ipc::MNetStatus::kSignalStrength) {
            line += " signal " + std::to_string(status.signalstrength());
        }
        if (status.has_lteinfo()) {
            line += " carrier " + status.lteinfo().carrier() + " technology " + status.lteinfo().technology();
        }
        Line(line);
    }
    void NotifyFloat(float value) override { Line("value " + std::to_string(value)); }

private:
    void Line(const std::string& text)
    {
        std::lock_guard lock(mMutex);
        mOut << Timestamp() << " " << text << std::endl;
    }

    std::mutex mMutex; // guards mOut
    std::ostream& mOut;
};

} // namespace

int CTarvCtl::Usage()
{
    mErr << "usage: tarvctl [--root PATH] COMMAND\n"
            "  enable            enable the network manager\n"
            "  disable           disable it (the first disable initialises the networks)\n"
            "  state             print its lifecycle state\n"
            "  watch             print lifecycle states, alive ticks and interface statuses as they arrive\n"
            "  log-level [LEVEL] print or set its log level (trace, debug, info, warning, error, critical)\n"
            "The IPC configuration is read from PATH followed by \"etc/iipc.json\" (PATH defaults to \"/\").\n";
    return 2;
}

int CTarvCtl::Run(const std::vector<std::string>& arguments)
{
    std::string root = "/";
    std::size_t next = 0;
    while (next < arguments.size() && arguments[next].rfind("--root", 0) == 0) {
        if (arguments[next] == "--root" && next + 1 < arguments.size()) {
            root = arguments[next + 1];
            next += 2;
        } else if (arguments[next].rfind("--root=", 0) == 0) {
            root = arguments[next].substr(7);
            next += 1;
        } else {
            return Usage();
        }
    }
    if (next >= arguments.size()) {
        return Usage();
    }
    const std::string command = arguments[next];
    const std::vector<std::string> rest(arguments.begin() + static_cast<std::ptrdiff_t>(next) + 1, arguments.end());
    const bool known = command == "enable" || command == "disable" || command == "state" || command == "watch" ||
                       command == "log-level";
    if (!known || (command == "log-level" ? rest.size() > 1 : !rest.empty())) {
        return Usage();
    }

    try {
        CRootDir::Set(root);
        auto host = std::make_shared<Host>(root + "etc/iipc.json");
        if (command == "enable" || command == "disable") {
            auto control = host->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
            const ipc::MResult result = command == "enable" ? control->Enable() : control->Disable();
            mOut << (result.result() == ipc::MResult::Ok ? "Ok" : "Illegal") << std::endl;
            return result.result() == ipc::MResult::Ok ? 0 : 3;
        }
        if (command == "state") {
            const ipc::MState state = host->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface()->GetState();
            mOut << state.state() << " " << StateName(state.state()) << std::endl;
            return 0;
        }
        if (command == "log-level") {
            auto logConfig = host->CreateClient<Rpc::ILogConfig>("TarvLog")->GetInterface();
            if (rest.empty()) {
                const int level = logConfig->GetLogLevel();
                mOut << (level >= Log::trace && level <= Log::critical ? Log::LevelName(Log::ELogLevel(level))
                                                                       : "unknown")
                     << std::endl;
                return 0;
            }
            Log::ELogLevel level = Log::info;
            if (!Log::ParseLevel(rest[0], level)) {
                mErr << "tarvctl: unknown log level '" << rest[0]
                     << "' (trace, debug, info, warning, error, critical)" << std::endl;
                return 2;
            }
            if (!logConfig->SetLogLevel(level)) {
                mErr << "tarvctl: the daemon refused log level '" << rest[0] << "'" << std::endl;
                return 3;
            }
            mOut << Log::LevelName(level) << std::endl;
            return 0;
        }

        // watch: fail at once when the daemon is not there, then follow it;
        // resubscribing happens by itself when the daemon restarts.
        auto printer = std::make_shared<CPrinter>(mOut);
        auto control = host->CreateClient("TarvGenCtrl", std::static_pointer_cast<IProcessControl>(printer));
        auto tarv = host->CreateClient("Tarv", std::static_pointer_cast<ITarvClient>(printer));
        const ipc::MState state = control->GetInterface()->GetState();
        mOut << Timestamp() << " state " << state.state() << " " << StateName(state.state()) << std::endl;
        host->HandleClientNotifications();
        return 0;
    } catch (const Rpc::CommunicationException& e) {
        mErr << "tarvctl: " << e.what() << " (is tarv running?)" << std::endl;
        return 1;
    } catch (const std::exception& e) {
        mErr << "tarvctl: " << e.what() << std::endl;
        return 1;
    }
}
