#include "tools/tarvctl/tarvctl.h"

#include "platform/ipc/communicationexception.h"
#include "platform/ipc/ipcconfiguration.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/toolbox/uniquefd.h"

#include "tools/tarvctl/tarvctlconfig.h"
#include "tools/tarvctl/tarvctldeadline.h"
#include "tools/tarvctl/tarvctlformat.h"
#include "tools/tarvctl/tarvctlprinter.h"
#include "tools/tarvctl/tarvctlreport.h"
#include "tools/tarvctl/tarvctlstatuscollector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

#ifndef TARV_VERSION
#define TARV_VERSION "unknown"
#endif

namespace {

using Format = CTarvCtlFormat;

// Nothing listens on the daemon's socket: exit code 8.
class CNotRunning : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A request the daemon refused in its present state: exit code 3.
class CRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wrong argument after the verb: exit code 2.
class CUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SOption {
    const char* spelling;
    const char* argument;
    const char* text;
};

const std::vector<SOption> kOptions{
#define TARVCTL_OPTION(spelling, argument, text) {spelling, argument, text},
#define TARVCTL_VERB(name, member, arguments, fewest, most, text)
#define TARVCTL_EXIT(code, text)
#include "tools/tarvctl/tarvctlcommands.def"
#undef TARVCTL_OPTION
#undef TARVCTL_VERB
#undef TARVCTL_EXIT
};

const std::vector<std::pair<int, const char*>> kExitCodes{
#define TARVCTL_OPTION(spelling, argument, text)
#define TARVCTL_VERB(name, member, arguments, fewest, most, text)
#define TARVCTL_EXIT(code, text) {code, text},
#include "tools/tarvctl/tarvctlcommands.def"
#undef TARVCTL_OPTION
#undef TARVCTL_VERB
#undef TARVCTL_EXIT
};

std::chrono::seconds ParseTimeout(const std::string& text)
{
    std::size_t used = 0;
    long seconds = 0;
    try {
        seconds = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || seconds < 1 || seconds > 3600) {
        throw CUsageError("--timeout takes whole seconds from 1 to 3600, not '" + text + "'");
    }
    return std::chrono::seconds(seconds);
}

} // namespace

const std::vector<CTarvCtl::SVerb>& CTarvCtl::Verbs()
{
    static const std::vector<SVerb> verbs{
#define TARVCTL_OPTION(spelling, argument, text)
#define TARVCTL_VERB(name, member, arguments, fewest, most, text) {name, &CTarvCtl::member, arguments, fewest, most, text},
#define TARVCTL_EXIT(code, text)
#include "tools/tarvctl/tarvctlcommands.def"
#undef TARVCTL_OPTION
#undef TARVCTL_VERB
#undef TARVCTL_EXIT
    };
    return verbs;
}

int CTarvCtl::Help(std::ostream& stream, int exitCode)
{
    stream << "usage: tarvctl [OPTION]... VERB [ARGUMENT]...\n"
              "Drives and inspects tarv, the network manager, through the sockets of <root>etc/iipc.json.\n"
              "Verbs:\n";
    for (const SVerb& verb : Verbs()) {
        const std::string head = std::string(verb.name) + (*verb.arguments ? " " : "") + verb.arguments;
        stream << "  " << head << (head.size() < 18 ? std::string(18 - head.size(), ' ') : "\n" + std::string(20, ' '))
               << verb.text << "\n";
    }
    stream << "Options:\n";
    for (const SOption& option : kOptions) {
        const std::string head = std::string(option.spelling) + (*option.argument ? " " : "") + option.argument;
        stream << "  " << head << std::string(head.size() < 18 ? 18 - head.size() : 1, ' ') << option.text << "\n";
    }
    stream << "Exit codes:\n";
    for (const auto& [code, text] : kExitCodes) {
        stream << "  " << code << "  " << text << "\n";
    }
    stream << "Interfaces are named as the kernel names them: uap0 eth0 wlan0 lte0 plc0.\n" << std::flush;
    return exitCode;
}

int CTarvCtl::Fail(int code, const std::string& message)
{
    mErr << "tarvctl: " << message << std::endl;
    return code;
}

std::size_t CTarvCtl::ParseOptions(const std::vector<std::string>& arguments, int& exitCode)
{
    std::size_t next = 0;
    for (; next < arguments.size() && arguments[next].rfind("-", 0) == 0; ++next) {
        const std::string& option = arguments[next];
        const std::string name = option.substr(0, option.find('='));
        const bool inlineValue = name.size() < option.size();
        if (name == "--root" || name == "--timeout") {
            if (!inlineValue && next + 1 >= arguments.size()) {
                exitCode = Fail(kUsage, name + " needs a value (tarvctl --help)");
                return next;
            }
            const std::string value = inlineValue ? option.substr(name.size() + 1) : arguments[++next];
            if (name == "--root") {
                mRoot = value;
            } else {
                mTimeout = ParseTimeout(value);
            }
        } else if (option == "--json") {
            mJson = true;
        } else if (option == "--show-secrets") {
            mShowSecrets = true;
        } else if (option == "--help" || option == "-h") {
            exitCode = Help();
            return next;
        } else if (option == "--version") {
            mOut << "tarvctl " << TARV_VERSION << std::endl;
            exitCode = kOk;
            return next;
        } else {
            exitCode = Fail(kUsage, "unknown option '" + option + "' (tarvctl --help)");
            return next;
        }
    }
    if (next >= arguments.size()) {
        Help(mErr, kUsage);
        exitCode = kUsage;
    }
    return next;
}

int CTarvCtl::Run(const std::vector<std::string>& arguments)
{
    try {
        int exitCode = -1;
        const std::size_t index = ParseOptions(arguments, exitCode);
        if (exitCode >= 0) {
            return exitCode;
        }
        const std::string& name = arguments[index];
        const auto verb = std::find_if(Verbs().begin(), Verbs().end(), [&](const SVerb& v) { return name == v.name; });
        if (verb == Verbs().end()) {
            return Fail(kUsage, "unknown verb '" + name + "' (tarvctl --help lists them)");
        }
        mArguments.assign(arguments.begin() + static_cast<std::ptrdiff_t>(index) + 1, arguments.end());
        if (mArguments.size() < verb->fewest || mArguments.size() > verb->most) {
            return Fail(kUsage, std::string("usage: tarvctl ") + verb->name + " " + verb->arguments);
        }
        CRootDir::Set(mRoot);
        if (mDeadline) {
            mDeadline->Arm(mTimeout);
        }
        const int code = (this->*(verb->run))();
        if (mDeadline) {
            mDeadline->Disarm();
        }
        return code;
    } catch (const CUsageError& e) {
        return Fail(kUsage, e.what());
    } catch (const CNotRunning& e) {
        return Fail(kNotRunning, e.what());
    } catch (const CRefused& e) {
        return Fail(kRefused, e.what());
    } catch (const Rpc::CommunicationException& e) {
        return Fail(kFailure, std::string(e.what()) + " (is tarv running?)");
    } catch (const std::exception& e) {
        return Fail(kFailure, e.what());
    }
}

void CTarvCtl::RequireDaemon(const std::string& service) const
{
    const CIpcConfiguration configuration(mRoot + "etc/iipc.json");
    const std::string& path = configuration.GetEndpoint(service).socketPath;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return; // the IPC library reports what it makes of such a path
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const CUniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.IsOpen() ||
        ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return;
    }
    const int error = errno;
    if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR) {
        throw CNotRunning("tarv is not running: " + service + " at " + path + " is not reachable (" +
                          std::strerror(error) + ")");
    }
    if (error == EACCES || error == EPERM) {
        throw std::runtime_error("permission denied on " + path + " (" + service + ")");
    }
}

CTarvCtl::Host& CTarvCtl::Daemon()
{
    if (!mHost) {
        mHost = std::make_shared<Host>(mRoot + "etc/iipc.json");
    }
    return *mHost;
}

void CTarvCtl::Print(const std::string& text, const Json::Value& json)
{
    mOut << (mJson ? Format::OneLine(json) : text) << std::endl;
}

int CTarvCtl::Enable()
{
    return Lifecycle(true);
}

int CTarvCtl::Disable()
{
    return Lifecycle(false);
}

int CTarvCtl::Lifecycle(bool enable)
{
    RequireDaemon("TarvGenCtrl");
    auto control = Daemon().CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
    const ipc::MResult result = enable ? control->Enable() : control->Disable();
    if (result.result() != ipc::MResult::Ok) {
        const int state = control->GetState().state();
        throw CRefused(std::string("tarv refused to ") + (enable ? "enable" : "disable") + " in state " +
                       Format::StateName(state) +
                       (enable && state == ipc::MState::Uninitialized ? " (disable it first: that initialises the networks)"
                                                                      : ""));
    }
    Json::Value json;
    json["result"] = "ok";
    Print("Ok", json);
    return kOk;
}

int CTarvCtl::State()
{
    RequireDaemon("TarvGenCtrl");
    const ipc::MState state = Daemon().CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface()->GetState();
    Json::Value json;
    json["state"] = state.state();
    json["name"] = Format::StateName(state.state());
    Print(std::to_string(state.state()) + " " + Format::StateName(state.state()), json);
    return kOk;
}

int CTarvCtl::Watch()
{
    // Fails at once when the daemon is not there, then follows it;
    // resubscribing happens by itself when the daemon restarts.
    RequireDaemon("TarvGenCtrl");
    auto printer = std::make_shared<CTarvCtlPrinter>(mOut, mJson);
    auto control = Daemon().CreateClient("TarvGenCtrl", std::static_pointer_cast<IProcessControl>(printer));
    auto tarv = Daemon().CreateClient("Tarv", std::static_pointer_cast<ITarvClient>(printer));
    printer->State(control->GetInterface()->GetState().state());
    if (mDeadline) {
        mDeadline->Disarm();
    }
    std::thread notifications([this] { Daemon().HandleClientNotifications(); });
    // A root that is gone (a sandbox that ended) never sees the daemon
    // again: the watch ends instead of waiting for it for ever.
    const std::string configuration = mRoot + "etc/iipc.json";
    struct stat status {};
    while (::stat(configuration.c_str(), &status) == 0) {
        std::this_thread::sleep_for(kRootCheckPeriod);
    }
    Daemon().Stop();
    notifications.join();
    return Fail(kNotRunning, configuration + " is gone: tarv cannot come back there");
}

int CTarvCtl::LogLevel()
{
    RequireDaemon("TarvLog");
    auto logConfig = Daemon().CreateClient<Rpc::ILogConfig>("TarvLog")->GetInterface();
    Log::ELogLevel level = Log::info;
    if (mArguments.empty()) {
        const int current = logConfig->GetLogLevel();
        const char* name =
            current >= Log::trace && current <= Log::critical ? Log::LevelName(Log::ELogLevel(current)) : "unknown";
        Json::Value json;
        json["level"] = name;
        Print(name, json);
        return kOk;
    }
    if (!Log::ParseLevel(mArguments[0], level)) {
        throw CUsageError("unknown log level '" + mArguments[0] + "' (trace, debug, info, warning, error, critical)");
    }
    if (!logConfig->SetLogLevel(level)) {
        throw CRefused("tarv refused log level '" + mArguments[0] + "'");
    }
    Json::Value json;
    json["level"] = Log::LevelName(level);
    Print(Log::LevelName(level), json);
    return kOk;
}

int CTarvCtl::Scan()
{
    RequireDaemon("Tarv");
    const ipc::MScanWlan scan = Daemon().CreateClient<ITarv>("Tarv")->GetInterface()->ScanWlan();
    if (!scan.success()) {
        return Fail(kFailure, "the WLAN scan failed (is tarv enabled? see its log)");
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
        mOut << Format::OneLine(networks) << "\n";
    }
    mOut << std::flush;
    return kOk;
}

int CTarvCtl::Validate()
{
    RequireDaemon("Tarv");
    if (!Daemon().CreateClient<ITarv>("Tarv")->GetInterface()->Validate()) {
        return Fail(kFailure, "validation failed: tarv is not enabled, nothing changed, or a change was not applied "
                              "(see its log)");
    }
    Json::Value json;
    json["result"] = true;
    Print("Ok", json);
    return kOk;
}

std::map<int, ipc::MNetStatus> CTarvCtl::CollectStatuses(const std::vector<ipc::EIfName>& interfaces, bool& accepted)
{
    RequireDaemon("Tarv");
    auto collector = std::make_shared<CTarvCtlStatusCollector>();
    auto host = std::make_shared<Host>(mRoot + "etc/iipc.json");
    auto client = host->CreateClient("Tarv", std::static_pointer_cast<ITarvClient>(collector));
    std::thread notifications([host] { host->HandleClientNotifications(); });
    std::map<int, ipc::MNetStatus> statuses;
    try {
        if (!client->WaitSubscribed(std::chrono::seconds(5))) {
            throw Rpc::CommunicationException("'Tarv' does not deliver notifications");
        }
        ipc::MNetInterfaces request;
        for (const auto id : interfaces) {
            request.add_interfaces(id);
        }
        accepted = client->GetInterface()->TriggerNotification(request);
        statuses = collector->WaitFor(interfaces, std::chrono::seconds(accepted ? 5 : 1));
    } catch (...) {
        host->Stop();
        notifications.join();
        throw;
    }
    host->Stop();
    notifications.join();
    return statuses;
}

int CTarvCtl::Notify()
{
    std::vector<ipc::EIfName> interfaces;
    for (const std::string& name : mArguments) {
        const auto id = Format::InterfaceId(name);
        if (!id) {
            throw CUsageError("unknown interface '" + name + "' (uap0, eth0, wlan0, lte0, plc0)");
        }
        interfaces.push_back(*id);
    }
    bool accepted = false;
    const auto statuses = CollectStatuses(interfaces, accepted);
    PrintStatuses(statuses);
    if (!accepted) {
        return Fail(kFailure, statuses.empty() ? "no status notified (is tarv enabled? see its log)"
                                               : "some interfaces have no hardware (see tarv's log)");
    }
    return kOk;
}

std::vector<ipc::EIfName> CTarvCtl::PresentInterfaces() const
{
    const std::vector<std::pair<const char*, std::vector<ipc::EIfName>>> hardware{
        {"HwHasWlan", {ipc::EUap0, ipc::EWlan0}},
        {"HwHasEthernet", {ipc::EEth0}},
        {"HwHasLte", {ipc::ELte0}},
        {"HwHasPlc", {ipc::EPlc0}}};
    std::vector<ipc::EIfName> present;
    const CTarvCtlConfig config(mRoot);
    for (const auto& [key, interfaces] : hardware) {
        bool has = true;
        try {
            const Json::Value value = config.Get("hwinfo", key);
            has = !value.isBool() || value.asBool();
        } catch (const std::exception&) {
            // unreadable: ask for it anyway
        }
        if (has) {
            present.insert(present.end(), interfaces.begin(), interfaces.end());
        }
    }
    std::sort(present.begin(), present.end());
    return present;
}

int CTarvCtl::Status()
{
    bool accepted = false;
    const auto statuses = CollectStatuses(PresentInterfaces(), accepted);
    PrintStatuses(statuses);
    if (statuses.empty()) {
        return Fail(kFailure, "no status notified (is tarv enabled? see its log)");
    }
    return kOk;
}

void CTarvCtl::PrintStatuses(const std::map<int, ipc::MNetStatus>& statuses)
{
    Json::Value list(Json::arrayValue);
    for (const auto& [id, status] : statuses) {
        if (mJson) {
            list.append(Format::StatusJson(status));
        } else {
            mOut << Format::StatusLine(status) << "\n";
        }
    }
    if (mJson) {
        mOut << Format::OneLine(list) << "\n";
    }
    mOut << std::flush;
}

int CTarvCtl::Config()
{
    const CTarvCtlConfig config(mRoot);
    const std::string& action = mArguments[0];
    if (action == "list" && mArguments.size() <= 2) {
        return ConfigList();
    }
    if (action == "get" && mArguments.size() == 3) {
        if (CTarvCtlConfig::IsSecret(mArguments[1], mArguments[2]) && !mShowSecrets) {
            throw CUsageError(mArguments[2] + " is a secret: add --show-secrets to print it");
        }
        const Json::Value value = config.Get(mArguments[1], mArguments[2]);
        mOut << (mJson || !value.isString() ? Format::OneLine(value) : value.asString()) << std::endl;
        return kOk;
    }
    if (action == "set" && mArguments.size() == 4) {
        std::string value = mArguments[3];
        if (value == "-") {
            // From standard input, so that a secret never shows in ps.
            value.assign(std::istreambuf_iterator<char>(mIn), std::istreambuf_iterator<char>());
            if (!value.empty() && value.back() == '\n') {
                value.pop_back();
            }
        }
        config.Set(mArguments[1], mArguments[2], value);
        Json::Value json;
        json["result"] = true;
        Print("Ok", json);
        return kOk;
    }
    throw CUsageError("usage: tarvctl config get SOURCE KEY | set SOURCE KEY VALUE|- | list [SOURCE]");
}

int CTarvCtl::ConfigList()
{
    const auto rows = CTarvCtlConfig(mRoot).List(mArguments.size() == 2 ? mArguments[1] : "");
    Json::Value list(Json::arrayValue);
    auto shown = [&](const CTarvCtlConfig::SKeyRow& row, const Json::Value& value) {
        return row.secret && !value.isNull() ? Json::Value(CTarvCtlConfig::kMask) : value;
    };
    auto text = [](const Json::Value& value) {
        if (value.isNull()) {
            return std::string(Format::kNotSet);
        }
        return value.isString() && !value.asString().empty() ? value.asString() : Format::OneLine(value);
    };
    for (const auto& row : rows) {
        Json::Value entry;
        entry["source"] = row.source;
        entry["key"] = row.key;
        entry["type"] = row.type;
        entry["default"] = shown(row, row.defaultValue);
        entry["value"] = shown(row, row.value);
        entry["secret"] = row.secret;
        list.append(entry);
        if (!mJson) {
            mOut << row.source << "\t" << row.key << "\t" << row.type << "\t" << text(entry["default"]) << "\t"
                 << text(entry["value"]) << "\n";
        }
    }
    if (mJson) {
        mOut << Format::OneLine(list) << "\n";
    }
    mOut << std::flush;
    return kOk;
}

int CTarvCtl::Report()
{
    Json::Value report;
    report["tarvctl"] = TARV_VERSION;
    try {
        RequireDaemon("TarvGenCtrl");
        const int state = Daemon().CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface()->GetState().state();
        report["state"] = Format::StateName(state);
        // Statuses are only notified while tarv is enabled.
        bool accepted = false;
        report["interfaces"] = Json::Value(Json::arrayValue);
        for (const auto& [id, status] : CollectStatuses(PresentInterfaces(), accepted)) {
            report["interfaces"].append(Format::StatusJson(status));
            if (id == ipc::ELte0) {
                report["modem"] = Format::StatusJson(status);
                report["modem"].removeMember("interface");
            }
        }
    } catch (const std::exception& e) {
        // What the daemon would have said is marked as not asked.
        report["state"] = Json::Value();
        report["interfaces"] = Json::Value();
        report["notAsked"] = std::string("tarv: ") + e.what();
    }
    report["configuration"] = CTarvCtlConfig(mRoot).MaskedSnapshot();
    report["system"] = CTarvCtlReport(mRoot).System();
    Json::StreamWriterBuilder writer;
    writer["indentation"] = mJson ? "" : "  ";
    writer["emitUTF8"] = true;
    mOut << Json::writeString(writer, report) << std::endl;
    return kOk;
}
