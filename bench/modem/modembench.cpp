// Modem layer figures against the simulated modem (tools/modemsim) on a real
// pseudo-terminal under a temporary root:
//  - AT round trip per command class (median and p99 over many exchanges);
//  - wake-ups of the calling thread while an answer is awaited, with the
//    25 ms answer poll and with one read waiting on the descriptor for the
//    whole time limit;
//  - wake-ups of the modem state machine's worker at rest;
//  - wall time of the enable path with the simulator's delays scaled down.
// usage: bench_modem [--exchanges=N | N]  (exchanges per class, 10 to 100000, default 300);
// anything else is refused.

#include "src/components/ltemodem/athandler.h"
#include "src/components/ltemodem/modem.h"
#include "src/components/ltemodem/modemcommands.h"
#include "src/components/ltemodem/modemstatemachine.h"
#include "src/components/ltemodem/modemstatemachineimpl.h"

#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "platform/worker/manualclock.h"
#include "tests/support/tempdir.h"
#include "tools/modemsim/modemsimulator.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class CNoConfig : public ITarvConfig {
public:
    bool GetBool(EConfigKey) const override { return false; }
    std::string GetString(EConfigKey) const override { return {}; }
    std::vector<EConfigKey> CheckChanges() override { return {}; }
};

// Voluntary plus involuntary context switches of one thread of this process.
long ContextSwitches(long tid)
{
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    long total = 0;
    std::string line;
    while (std::getline(status, line)) {
        if (line.find("ctxt_switches:") != std::string::npos) {
            total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

long ThisThread()
{
    return static_cast<long>(::gettid());
}

struct SStation {
    explicit SStation(SAtTimings timings = {.bannerTimeout = 300ms})
    {
        CRootDir::Set(dir.Root());
        CModemSimulator::SOptions options;
        options.root = dir.Path();
        options.timeScale = 0.01;
        options.log = [](const std::string&) {};
        sim = std::make_unique<CModemSimulator>(SModemScenario {}, options);
        for (const char* line : {"sys/class/gpio/gpio74/direction", "sys/class/gpio/gpio75/direction"}) {
            dir.WriteFile(line, "in");
        }
        auto sysfs = std::make_shared<CSysfsAccess>();
        auto at = std::make_unique<CAtHandler>(std::make_unique<CSerial>(CModemSimulator::kDevicePath),
                                               IClock::Steady(), timings);
        channel = at.get();
        modem = std::make_shared<Modem::CModem>(std::make_shared<CNoConfig>(), std::move(at),
                                                std::make_unique<CSysfsGpio>(74, sysfs),
                                                std::make_unique<CSysfsGpio>(75, sysfs));
    }
    ~SStation() { CRootDir::Set("/"); }

    bool PowerOn()
    {
        modem->TogglePower();
        return sim->WaitForDevice(true, 10s) && modem->InitializeSerial();
    }

    TestSupport::CTempDir dir;
    std::unique_ptr<CModemSimulator> sim;
    CAtHandler* channel = nullptr;
    std::shared_ptr<Modem::CModem> modem;
};

void RoundTrips(int count)
{
    SStation station;
    if (!station.PowerOn()) {
        std::puts("power-on failed");
        return;
    }
    namespace Cmd = Modem::Commands;
    station.channel->SendCommand(Cmd::kSmsTextMode);
    const std::vector<std::pair<const char*, const AtCommand*>> classes = {
        {"plain query (AT+CPIN?)", &Cmd::kPinStatus},
        {"validated line (AT+GSN)", &Cmd::kImei},
        {"five values (AT+QCSQ)", &Cmd::kSignalQuality},
        {"message listing (AT+CMGL)", &Cmd::kSmsListUnread},
    };
    std::printf("%-28s %10s %10s\n", "AT round trip", "median us", "p99 us");
    for (const auto& [name, command] : classes) {
        std::vector<double> micros;
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            station.channel->SendCommand(*command);
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        std::sort(micros.begin(), micros.end());
        std::printf("%-28s %10.0f %10.0f\n", name, micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
    }
}

void AnswerPollCost()
{
    std::puts("\nWaiting 2 s for an answer that never comes (calling thread):");
    for (const auto poll : {25ms, 2000ms}) {
        SStation station({.bannerTimeout = 300ms, .answerPoll = poll});
        if (!station.PowerOn()) {
            return;
        }
        SModemFault fault;
        fault.kind = SModemFault::EKind::Timeout;
        fault.command = "AT+CEREG?";
        station.sim->InjectFault(fault);
        const AtCommand slow {.command = "AT+CEREG?", .expected = "+CEREG:", .timeout = 2000ms};
        const long before = ContextSwitches(ThisThread());
        station.channel->SendCommand(slow);
        const long switches = ContextSwitches(ThisThread()) - before;
        std::printf("  answer poll %5lld ms: %4ld context switches (%.1f per second)\n",
                    static_cast<long long>(poll.count()), switches, switches / 2.0);
    }
}

void EnablePath()
{
    SStation station;
    std::mutex mutex;
    std::condition_variable arrived;
    bool enabled = false;
    auto worker = std::make_shared<CWorker>("modemsm");
    const auto start = Clock::now();
    CModemStateMachine machine(std::make_unique<CModemStateMachineImpl>(station.modem), worker);
    machine.SetTargetState(EModemState::Enabled, [&](bool) {
        std::lock_guard lock(mutex);
        enabled = true;
        arrived.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, 60s, [&] { return enabled; })) {
            std::puts("\nenable path did not finish within 60 s");
            return;
        }
    }
    std::printf("\nEnable path (500 ms steps, 1 s power-key pulse, simulator delays x0.01): %.0f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    // The worker's thread id, taken on the worker itself.
    long workerTid = 0;
    worker->BlockingCall([&workerTid] { workerTid = ThisThread(); });
    std::this_thread::sleep_for(600ms); // let the last step finish
    const long before = ContextSwitches(workerTid);
    std::this_thread::sleep_for(5s);
    std::printf("State machine worker at rest: %ld context switches in 5 s\n", ContextSwitches(workerTid) - before);
}

// The number of exchanges per class: a whole number from 10 to 100000, all
// of the text; 0 when it is not one.
int ExchangeCount(const std::string& text)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    const int value = std::stoi(text);
    return value >= 10 && value <= 100000 ? value : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Anything not understood is refused: this is not a Google Benchmark program.
    const char* usage = "usage: bench_modem [--exchanges=N | N]  (exchanges per command class, 10 to 100000, "
                        "default 300)\n";
    int count = 300;
    if (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc == 2) {
        const std::string argument = argv[1];
        count = ExchangeCount(argument.rfind("--exchanges=", 0) == 0 ? argument.substr(12) : argument);
    }
    if (argc > 2 || count == 0) {
        std::fprintf(stderr, "bench_modem: cannot use the arguments given\n%s", usage);
        return 2;
    }
    Log::SetLogLevel(Log::critical);
    RoundTrips(count);
    AnswerPollCost();
    EnablePath();
    return 0;
}
