// Figures of the whole daemon: the CPU cost of one status query of the
// Ethernet interface (the only real handler; the others are stand-ins) next
// to a shell pipeline reading the same gateway, the latency from a
// link change to the status notification, and the validation round trip
// over IPC against the daemon binary running as a station in namespaces of
// its own (needs root).
//
// usage: bench_daemon [--rounds=N | N] [--help]  (N validation requests, default 1000)
// Anything else is refused: this is not a Google Benchmark program.
//
// The daemon runs in the station sandbox (PID namespace): it is stopped when
// the round trip ends in any way, and its namespace ends with this process
// even if this process crashes.

#include "bench/daemon/absenthandler.h"
#include "platform/ipc/appcommunicationhost.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/handlers/tarvethhandler.h"
#include "src/components/lifecycle/tarvhsmactionhandler.h"
#include "src/components/links/tarverrorhandler.h"
#include "src/components/links/tarvnetlink.h"
#include "src/components/system/hostnamemanager.h"
#include "src/components/system/interfacenames.h"
#include "src/components/system/resolverpaths.h"
#include "src/components/system/runcommand.h"
#include "src/components/system/tarvdnsmanager.h"
#include "src/components/system/tarvinterfacesfileeditor.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <filesystem>
#include <ctime>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

class CConfig : public ITarvConfig {
public:
    bool GetBool(EConfigKey key) const override { return key == HwHasEthernet || key == HwHasWlan; }
    std::string GetString(EConfigKey) const override { return {}; }
    std::vector<EConfigKey> CheckChanges() override { return {}; }
};

double ThreadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

double ChildrenCpuMicroseconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto us = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec); };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * static_cast<double>(values.size())))];
}

void StatusQueryCost()
{
    auto config = std::make_shared<CConfig>();
    auto runner = std::make_shared<CRunCommand>();
    auto netlink = std::make_shared<CTarvNetlink>();
    auto errorHandler = std::make_shared<CTarvErrorHandler>(runner, netlink);
    CTarvEthHandler eth(
        {.config = config, .runCommand = runner, .netlink = netlink, .errorHandler = errorHandler,
         .interfacesFileEditor = std::make_shared<CTarvInterfacesFileEditor>(runner, config, "/etc/network/interfaces"),
         .hostnameManager = std::make_shared<CHostnameManager>(),
         .ethDnsManager = std::make_shared<CTarvDnsManager>(Tarv::kEth0, Tarv::kResolvConfDir, runner)});
    CAbsentHandler others(ipc::EWlan0, config);
    constexpr int kRounds = 2000;
    const double start = ThreadCpuMicroseconds();
    std::string gateway;
    for (int i = 0; i < kRounds; ++i) {
        gateway = eth.GetStatus().properties().defaultgateway();
        for (int other = 0; other < 4; ++other) {
            others.GetStatus();
        }
    }
    std::printf("status poll of five interfaces (eth0 real, gateway %s): %.1f us CPU\n", gateway.c_str(),
                (ThreadCpuMicroseconds() - start) / kRounds);

    constexpr int kPipelineRounds = 20;
    const std::string pipeline = "cat /proc/net/route | awk '{if (($1 == \"eth0\") && ($2 == \"00000000\") && "
                                 "($4 == \"0003\")) print $3;}' | awk 'NR==1 {print $0}'";
    const double children = ChildrenCpuMicroseconds();
    const double own = ThreadCpuMicroseconds();
    const auto wall = std::chrono::steady_clock::now();
    for (int i = 0; i < kPipelineRounds; ++i) {
        runner->Run(pipeline, 0);
    }
    const double wallUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wall).count() / kPipelineRounds;
    std::printf("shell pipeline for the gateway: %.1f us CPU (%.1f us in its processes), %.1f us wall per call\n",
                (ChildrenCpuMicroseconds() - children + ThreadCpuMicroseconds() - own) / kPipelineRounds,
                (ChildrenCpuMicroseconds() - children) / kPipelineRounds, wallUs);
}

// A handler whose connection state the bench flips.
class CFlippingHandler : public CAbsentHandler {
public:
    using CAbsentHandler::CAbsentHandler;
    ipc::MNetStatus GetStatus() override
    {
        ipc::MNetStatus status = CAbsentHandler::GetStatus();
        status.set_connectionstate(mConnected ? ipc::MNetStatus::EConnected : ipc::MNetStatus::EDisconnected);
        return status;
    }
    void Enable(bool&) override {}
    void Disable(bool&) override {}
    std::atomic<bool> mConnected{false};
};

class CTimedSink : public ITarvClient {
public:
    void NotifyStatus(const ipc::MNetStatus& status) override
    {
        std::lock_guard lock(mMutex);
        if (mWaiting && status.interface() == ipc::EWlan0) {
            mWaiting = false;
            mArrived.set_value(std::chrono::steady_clock::now());
        }
    }
    void NotifyFloat(float) override {}
    std::future<std::chrono::steady_clock::time_point> Expect()
    {
        std::lock_guard lock(mMutex);
        mArrived = {};
        mWaiting = true;
        return mArrived.get_future();
    }

private:
    std::mutex mMutex;
    bool mWaiting = false;                                          // guarded by mMutex
    std::promise<std::chrono::steady_clock::time_point> mArrived;  // guarded by mMutex
};

class CNoHostname : public IHostnameManager {
public:
    std::optional<std::string> GetHostname() override { return "bench"; }
    bool SetHostname(const std::string&) override { return true; }
};

class CNoNtp : public INtpManager {
public:
    bool Init() override { return false; }
    void StartNtpd() override {}
};

class CNoHsm : public IHsmInterface {
public:
    void PostEvent(std::shared_ptr<IHsmEvent>) override {}
    void Run() override {}
    void Stop() override {}
    bool IsRunning() const override { return true; }
};

void NotificationLatency()
{
    auto config = std::make_shared<CConfig>();
    auto sink = std::make_shared<CTimedSink>();
    auto actions = std::make_shared<CTarvHsmActionHandler>(config, sink, std::make_shared<CRunCommand>(),
                                                           std::make_shared<CNoHostname>(), std::make_shared<CNoNtp>());
    CNoHsm hsm;
    actions->SetHsmInterface(&hsm);
    auto wlan = std::make_shared<CFlippingHandler>(ipc::EWlan0, config);
    STarvHandlerSet set;
    set.ap = std::make_shared<CAbsentHandler>(ipc::EUap0, config);
    set.eth = set.lte = set.plc = set.ap;
    set.wlan = wlan;
    auto control = std::make_shared<CAbsentHandler>(ipc::EEth0, config);
    set.ethControl = control;
    set.wlanControl = control;
    set.lteControl = control;
    set.errorHandler = std::make_shared<CTarvErrorHandler>(std::make_shared<CRunCommand>(), nullptr);
    set.interfacesFileEditor = nullptr;
    actions->SetHandlers(set);
    actions->IntSetTarvEnabled();
    std::vector<double> latencies;
    for (int sample = 0; sample < 8; ++sample) {
        std::this_thread::sleep_for(std::chrono::milliseconds(137 * sample % 1000));
        auto arrived = sink->Expect();
        const auto changed = std::chrono::steady_clock::now();
        wlan->mConnected = !wlan->mConnected;
        if (arrived.wait_for(5s) != std::future_status::ready) {
            std::printf("status notification: none within 5 s\n");
            return;
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(arrived.get() - changed).count());
    }
    actions->IntStopWorkerThread();
    std::printf("link change to status notification: median %.0f ms, max %.0f ms (1 s poll)\n",
                Percentile(latencies, 0.5), Percentile(latencies, 1.0));
}

// The daemon in the station sandbox under a temporary root, for as long as
// this object lives: stopped with SIGINT (SIGKILL after 10 s) and its root
// removed on every way out of the scope, an exception included.
class CSandboxedDaemon {
public:
    explicit CSandboxedDaemon(const std::string& root)
        : mRoot(root)
    {
        std::filesystem::create_directories(root + "etc");
        std::filesystem::copy_file(TARV_IIPC_JSON, root + "etc/iipc.json");
        mPid = fork();
        if (mPid == 0) {
            const int log = open((root + "tarv.log").c_str(), O_WRONLY | O_CREAT, 0644);
            dup2(log, 1);
            dup2(log, 2);
            execl(STATION_SANDBOX, STATION_SANDBOX, TARV_BINARY, "-r", root.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~CSandboxedDaemon()
    {
        if (mPid > 0) {
            kill(mPid, SIGINT);
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (waitpid(mPid, nullptr, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    kill(mPid, SIGKILL);
                    waitpid(mPid, nullptr, 0);
                    break;
                }
                std::this_thread::sleep_for(20ms);
            }
        }
        std::error_code ignored;
        std::filesystem::remove_all(mRoot, ignored);
    }
    CSandboxedDaemon(const CSandboxedDaemon&) = delete;
    CSandboxedDaemon& operator=(const CSandboxedDaemon&) = delete;
    bool Started() const { return mPid > 0; }

private:
    std::string mRoot;
    pid_t mPid = -1;
};

// The daemon binary in a temporary root, enabled; validation requests with
// nothing changed, timed at the client.
void ValidationRoundTrip(int rounds)
{
    char rootTemplate[] = "/tmp/tarv-bench-XXXXXX";
    if (!mkdtemp(rootTemplate)) {
        std::printf("validation round trip: no temporary root\n");
        return;
    }
    const std::string root = std::string(rootTemplate) + "/";
    CSandboxedDaemon daemon(root);
    if (!daemon.Started()) {
        std::printf("validation round trip: the daemon could not be started\n");
        return;
    }
    try {
        CRootDir::Set(root);
        auto host = std::make_shared<AppCommunicationHost<GrpcBackend>>(root + "etc/iipc.json");
        auto control = host->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
        auto tarv = host->CreateClient<ITarv>("Tarv")->GetInterface();
        ipc::MNetInterfaces accessPoint;
        accessPoint.add_interfaces(ipc::EUap0);
        bool enabled = false;
        for (int attempt = 0; attempt < 500 && !enabled; ++attempt) {
            try {
                const int state = control->GetState().state();
                if (state == ipc::MState::Uninitialized) {
                    control->Disable();
                } else if (state == ipc::MState::Disabled) {
                    control->Enable();
                }
                enabled = tarv->TriggerNotification(accessPoint);
            } catch (const std::exception&) {
            }
            if (!enabled) {
                std::this_thread::sleep_for(20ms);
            }
        }
        if (!enabled) {
            std::printf("validation round trip: the daemon did not get enabled (needs root)\n");
        } else {
            std::vector<double> times;
            for (int i = 0; i < rounds; ++i) {
                const auto start = std::chrono::steady_clock::now();
                tarv->Validate();
                times.push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            }
            std::printf("validation round trip, nothing changed (%d requests): p50 %.2f ms, p99 %.2f ms\n", rounds,
                        Percentile(times, 0.5), Percentile(times, 0.99));
        }
    } catch (const std::exception& e) {
        std::printf("validation round trip: %s\n", e.what());
    }
}

// A whole number from 1 to 1000000, all of the text; nullopt otherwise.
std::optional<int> Rounds(const std::string& text)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const int value = std::stoi(text);
    return value >= 1 && value <= 1000000 ? std::optional<int>(value) : std::nullopt;
}

int Usage(const std::string& error)
{
    if (!error.empty()) {
        std::fprintf(stderr, "bench_daemon: %s\n", error.c_str());
    }
    std::fprintf(error.empty() ? stdout : stderr,
                 "usage: bench_daemon [--rounds=N | N]\n"
                 "  N  validation requests timed against the running daemon (1 to 1000000, default 1000)\n"
                 "Repeat the program to repeat the figures; it takes no other option.\n");
    return error.empty() ? 0 : 2;
}

} // namespace

int main(int argc, char* argv[])
{
    int rounds = 1000;
    if (argc > 2) {
        return Usage("takes at most one argument");
    }
    if (argc == 2) {
        const std::string argument = argv[1];
        if (argument == "-h" || argument == "--help") {
            return Usage({});
        }
        const auto parsed = Rounds(argument.rfind("--rounds=", 0) == 0 ? argument.substr(9) : argument);
        if (!parsed) {
            return Usage("cannot use the argument '" + argument + "'");
        }
        rounds = *parsed;
    }
    Log::Init("bench", Log::error);
    StatusQueryCost();
    NotificationLatency();
    ValidationRoundTrip(rounds);
    return 0;
}
