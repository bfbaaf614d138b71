#include "tools/tarvctl/tarvctl.h"

#include "platform/ipc/appcommunicationhost.h"
#include "platform/ipc/communicationexception.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"

#include "tools/tarvctl/tarvctlconfig.h"

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <map>
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

std::string StatusLine(const ipc::MNetStatus& status)
{
    std::string line = ipc::EIfName_Name(status.interface()) + " " + ConnectionName(status.connectionstate());
    if (status.has_properties()) {
        line += " ip " + status.properties().ipaddress() + " mask " + status.properties().subnetmask() + " gateway " +
                status.properties().defaultgateway();
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
    return line;
}

Json::Value StatusJson(const ipc::MNetStatus& status)
{
    Json::Value value;
    value["interface"] = ipc::EIfName_Name(status.interface());
    value["connection"] = ConnectionName(status.connectionstate());
    if (status.has_properties()) {
        value["ip"] = status.properties().ipaddress();
        value["netmask"] = status.properties().subnetmask();
        value["gateway"] = status.properties().defaultgateway();
    }
    if (status.has_dns()) {
        value["dns"].append(status.dns().primarydns());
        value["dns"].append(status.dns().secondarydns());
    }
    if (status.optionalSignalStrength_case() == ipc::MNetStatus::kSignalStrength) {
        value["signal"] = status.signalstrength();
    }
    if (status.has_lteinfo()) {
        const auto& lte = status.lteinfo();
        value["carrier"] = lte.carrier();
        value["technology"] = lte.technology();
        value["iccid"] = lte.iccid();
        value["imsi"] = lte.imsi();
        value["imei"] = lte.imei();
    }
    return value;
}

std::string OneLine(const Json::Value& value)
{
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    return Json::writeString(writer, value);
}

// Interface names as the command line gives them.
const std::map<std::string, ipc::EIfName> kInterfaceNames{
    {"uap0", ipc::EUap0}, {"eth0", ipc::EEth0}, {"wlan0", ipc::EWlan0}, {"lte0", ipc::ELte0}, {"plc0", ipc::EPlc0}};

// The statuses the daemon notifies after a trigger request.
class CStatusCollector : public ITarvClient {
public:
    void NotifyStatus(const ipc::MNetStatus& status) override
    {
        std::lock_guard lock(mMutex);
        mStatuses[status.interface()] = status;
        mChanged.notify_all();
    }
    void NotifyFloat(float) override {}

    std::map<int, ipc::MNetStatus> WaitFor(std::size_t count, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mMutex);
        mChanged.wait_for(lock, timeout, [&] { return mStatuses.size() >= count; });
        return mStatuses;
    }

private:
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::map<int, ipc::MNetStatus> mStatuses; // guarded by mMutex
};

struct SStatusReply {
    bool accepted = false;
    std::map<int, ipc::MNetStatus> statuses;
};

// Subscribes, asks for the statuses of the interfaces and collects what
// arrives (bounded in time: interfaces without hardware send nothing).
SStatusReply CollectStatuses(const std::shared_ptr<Host>& host, const std::vector<ipc::EIfName>& interfaces)
{
    auto collector = std::make_shared<CStatusCollector>();
    auto client = host->CreateClient("Tarv", std::static_pointer_cast<ITarvClient>(collector));
    std::thread notifications([host] { host->HandleClientNotifications(); });
    SStatusReply reply;
    try {
        if (!client->WaitSubscribed(std::chrono::seconds(5))) {
            throw Rpc::CommunicationException("'Tarv' does not deliver notifications");
        }
        ipc::MNetInterfaces request;
        for (const auto id : interfaces) {
            request.add_interfaces(id);
        }
        reply.accepted = client->GetInterface()->TriggerNotification(request);
        reply.statuses = collector->WaitFor(interfaces.size(), std::chrono::seconds(reply.accepted ? 5 : 1));
    } catch (...) {
        host->Stop();
        notifications.join();
        throw;
    }
    host->Stop();
    notifications.join();
    return reply;
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
        Line("status " + StatusLine(status));
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
    mErr << "usage: tarvctl [--root PATH] [--json] COMMAND\n"
            "  enable            enable the network manager\n"
            "  disable           disable it (the first disable initialises the networks)\n"
            "  state             print its lifecycle state\n"
            "  watch             print lifecycle states, alive ticks and interface statuses as they arrive\n"
            "  log-level [LEVEL] print or set its log level (trace, debug, info, warning, error, critical)\n"
            "  scan              scan for WLAN networks\n"
            "  validate          apply the configuration changed since the last validation\n"
            "  notify IF...      have the statuses of the interfaces (uap0 eth0 wlan0 lte0 plc0) notified\n"
            "  status            print the current status of every interface\n"
            "  config get SOURCE KEY | config set SOURCE KEY VALUE\n"
            "                    read or write a configuration key (sources: hwinfo, network, secrets, settings)\n"
            "  report            state, statuses, configuration (secrets masked) and modem identity in one snapshot\n"
            "The IPC configuration is read from PATH followed by \"etc/iipc.json\" (PATH defaults to \"/\").\n";
    return 2;
}

int CTarvCtl::Fail(const std::string& message)
{
    mErr << "tarvctl: " << message << std::endl;
    return 1;
}

int CTarvCtl::Run(const std::vector<std::string>& arguments)
{
    std::string root = "/";
    std::size_t next = 0;
    while (next < arguments.size() && arguments[next].rfind("--", 0) == 0) {
        if (arguments[next] == "--json") {
            mJson = true;
            next += 1;
        } else if (arguments[next] == "--root" && next + 1 < arguments.size()) {
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
    const std::map<std::string, std::pair<std::size_t, std::size_t>> argumentCounts{
        {"enable", {0, 0}}, {"disable", {0, 0}}, {"state", {0, 0}},  {"watch", {0, 0}},    {"log-level", {0, 1}},
        {"scan", {0, 0}},   {"validate", {0, 0}}, {"notify", {1, 5}}, {"status", {0, 0}},   {"config", {3, 4}},
        {"report", {0, 0}}};
    const auto counts = argumentCounts.find(command);
    if (counts == argumentCounts.end() || rest.size() < counts->second.first || rest.size() > counts->second.second) {
        return Usage();
    }

    try {
        CRootDir::Set(root);
        if (command == "config") {
            return Config(root, rest);
        }
        auto host = std::make_shared<Host>(root + "etc/iipc.json");
        if (command == "enable" || command == "disable") {
            auto control = host->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
            const ipc::MResult result = command == "enable" ? control->Enable() : control->Disable();
            mOut << (result.result() == ipc::MResult::Ok ? "Ok" : "Illegal") << std::endl;
            return result.result() == ipc::MResult::Ok ? 0 : 3;
        }
        if (command == "state") {
            const ipc::MState state = host->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface()->GetState();
            if (mJson) {
                Json::Value value;
                value["state"] = state.state();
                value["name"] = StateName(state.state());
                mOut << OneLine(value) << std::endl;
            } else {
                mOut << state.state() << " " << StateName(state.state()) << std::endl;
            }
            return 0;
        }
        if (command == "log-level") {
            return LogLevel(*host->CreateClient<Rpc::ILogConfig>("TarvLog")->GetInterface(), rest);
        }
        if (command == "scan") {
            const ipc::MScanWlan scan = host->CreateClient<ITarv>("Tarv")->GetInterface()->ScanWlan();
            if (!scan.success()) {
                return Fail("the WLAN scan failed (is tarv enabled? see its log)");
            }
            Json::Value networks(Json::arrayValue);
            for (const auto& network : scan.networks()) {
                Json::Value entry;
                entry["ssid"] = network.ssid();
                entry["security"] = network.security();
                entry["signal"] = network.signallevel();
                entry["channel"] = network.channel();
                networks.append(entry);
                if (!mJson) {
                    mOut << network.ssid() << "\t" << network.security() << "\t" << network.signallevel() << "\t"
                         << network.channel() << "\n";
                }
            }
            if (mJson) {
                mOut << OneLine(networks) << "\n";
            }
            mOut << std::flush;
            return 0;
        }
        if (command == "validate") {
            if (!host->CreateClient<ITarv>("Tarv")->GetInterface()->Validate()) {
                return Fail("validation failed: tarv is not enabled, nothing changed, or a change was not applied "
                            "(see its log)");
            }
            mOut << (mJson ? "{\"result\":true}" : "Ok") << std::endl;
            return 0;
        }
        if (command == "notify" || command == "status") {
            std::vector<ipc::EIfName> interfaces;
            for (const std::string& name : command == "notify" ? rest : std::vector<std::string>{}) {
                const auto id = kInterfaceNames.find(name);
                if (id == kInterfaceNames.end()) {
                    return Fail("unknown interface '" + name + "' (uap0, eth0, wlan0, lte0, plc0)");
                }
                interfaces.push_back(id->second);
            }
            if (command == "status") {
                interfaces = {ipc::EUap0, ipc::EEth0, ipc::EWlan0, ipc::ELte0, ipc::EPlc0};
            }
            const SStatusReply reply = CollectStatuses(host, interfaces);
            PrintStatuses(reply.statuses);
            if (command == "notify" ? !reply.accepted : reply.statuses.empty()) {
                return Fail(reply.statuses.empty() ? "no status notified (is tarv enabled? see its log)"
                                                   : "some interfaces have no hardware (see tarv's log)");
            }
            return 0;
        }
        if (command == "report") {
            return Report(host, root);
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
        return Fail(std::string(e.what()) + " (is tarv running?)");
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}

int CTarvCtl::LogLevel(Rpc::ILogConfig& logConfig, const std::vector<std::string>& rest)
{
    if (rest.empty()) {
        const int level = logConfig.GetLogLevel();
        mOut << (level >= Log::trace && level <= Log::critical ? Log::LevelName(Log::ELogLevel(level)) : "unknown")
             << std::endl;
        return 0;
    }
    Log::ELogLevel level = Log::info;
    if (!Log::ParseLevel(rest[0], level)) {
        mErr << "tarvctl: unknown log level '" << rest[0] << "' (trace, debug, info, warning, error, critical)"
             << std::endl;
        return 2;
    }
    if (!logConfig.SetLogLevel(level)) {
        mErr << "tarvctl: the daemon refused log level '" << rest[0] << "'" << std::endl;
        return 3;
    }
    mOut << Log::LevelName(level) << std::endl;
    return 0;
}

int CTarvCtl::Config(const std::string& root, const std::vector<std::string>& rest)
{
    const CTarvCtlConfig config(root);
    const std::string& action = rest[0];
    if (action == "get" && rest.size() == 3) {
        const Json::Value value = config.Get(rest[1], rest[2]);
        mOut << (mJson || !value.isString() ? OneLine(value) : value.asString()) << std::endl;
        return 0;
    }
    if (action == "set" && rest.size() == 4) {
        config.Set(rest[1], rest[2], rest[3]);
        mOut << (mJson ? "{\"result\":true}" : "Ok") << std::endl;
        return 0;
    }
    return Usage();
}

void CTarvCtl::PrintStatuses(const std::map<int, ipc::MNetStatus>& statuses)
{
    Json::Value list(Json::arrayValue);
    for (const auto& [id, status] : statuses) {
        if (mJson) {
            list.append(StatusJson(status));
        } else {
            mOut << StatusLine(status) << "\n";
        }
    }
    if (mJson) {
        mOut << OneLine(list) << "\n";
    }
    mOut << std::flush;
}

int CTarvCtl::Report(const std::shared_ptr<Host>& host, const std::string& root)
{
    Json::Value report;
    const ipc::MState state = host->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface()->GetState();
    report["state"] = StateName(state.state());
    // Statuses are only notified while tarv is enabled.
    const SStatusReply reply = CollectStatuses(host, {ipc::EUap0, ipc::EEth0, ipc::EWlan0, ipc::ELte0, ipc::EPlc0});
    report["interfaces"] = Json::Value(Json::arrayValue);
    for (const auto& [id, status] : reply.statuses) {
        report["interfaces"].append(StatusJson(status));
        if (id == ipc::ELte0) {
            Json::Value modem = StatusJson(status);
            modem.removeMember("interface");
            report["modem"] = modem;
        }
    }
    report["configuration"] = CTarvCtlConfig(root).MaskedSnapshot();
    Json::StreamWriterBuilder writer;
    writer["indentation"] = mJson ? "" : "  ";
    mOut << Json::writeString(writer, report) << std::endl;
    return 0;
}
