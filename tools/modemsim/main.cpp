// tarv-modemsim: runs the simulated LTE modem until SIGINT or SIGTERM.
//
//   tarv-modemsim --root DIR --scenario FILE [--time-scale FACTOR] [--control FILE]
// SIGUSR1 delivers the scenario's messages again; SIGUSR2 applies the
// control file (faults to add, timing to replace; see modemcontrol.h), a bad
// one is logged and changes nothing; SIGINT or SIGTERM ends it.
//
// Every command the modem receives is logged to standard error (PIN, PUK
// and APN password replaced by "***").

#include "tools/modemsim/modemcontrol.h"
#include "tools/modemsim/modemsimulator.h"

#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

namespace {

int Usage(const char* error)
{
    if (error != nullptr) {
        std::fprintf(stderr, "tarv-modemsim: %s\n", error);
    }
    std::fprintf(stderr,
                 "usage: tarv-modemsim --root DIR --scenario FILE [--time-scale FACTOR] [--control FILE]\n"
                 "  --root DIR           root directory of the GPIO files and of dev/ttyATSERIAL2\n"
                 "  --scenario FILE      JSON scenario of the modem\n"
                 "  --time-scale FACTOR  multiplies every delay of the scenario (default 1)\n"
                 "  --control FILE       read on SIGUSR2: {\"faults\": [...], \"timing\": {...}} to apply\n");
    return error != nullptr ? 2 : 0;
}

struct SArguments {
    std::string root;
    std::string scenarioPath;
    std::string controlPath;
    double scale = 1.0;
};

// Reads the command line into arguments; returns the exit code when the
// program is to end here (help, or a usage error).
std::optional<int> ParseArguments(int argc, char** argv, SArguments& arguments)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            return Usage(nullptr);
        }
        if (i + 1 >= argc) {
            return Usage(("missing value after " + arg).c_str());
        }
        const std::string value = argv[++i];
        if (arg == "--root") {
            arguments.root = value;
        } else if (arg == "--scenario") {
            arguments.scenarioPath = value;
        } else if (arg == "--control") {
            arguments.controlPath = value;
        } else if (arg == "--time-scale") {
            char* end = nullptr;
            arguments.scale = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(arguments.scale > 0) || arguments.scale > 1000) {
                return Usage("--time-scale needs a number above 0 and at most 1000");
            }
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (arguments.root.empty() || arguments.scenarioPath.empty()) {
        return Usage("--root and --scenario are required");
    }
    return std::nullopt;
}

// Serves SIGUSR1 and SIGUSR2 until another of the blocked signals arrives;
// returns that one.
int ServeSignals(const sigset_t& signals, CModemSimulator& simulator, CModemControl& control,
                 const SModemScenario& scenario, const std::string& controlPath)
{
    // SIGUSR1: the network delivers the scenario's messages again (the
    // daemon deletes what is stored when it enables the modem).
    int received = 0;
    while (sigwait(&signals, &received) == 0 && (received == SIGUSR1 || received == SIGUSR2)) {
        if (received == SIGUSR2) {
            std::string summary;
            std::string error;
            if (controlPath.empty()) {
                std::fprintf(stderr, "tarv-modemsim: SIGUSR2 without --control, ignored\n");
            } else if (control.ApplyFile(controlPath, summary, error)) {
                std::fprintf(stderr, "tarv-modemsim: control %s: %s\n", controlPath.c_str(), summary.c_str());
            } else {
                std::fprintf(stderr, "tarv-modemsim: control ignored: %s\n", error.c_str());
            }
            continue;
        }
        for (const auto& sms : scenario.sms) {
            simulator.AddSms(sms);
        }
        std::fprintf(stderr, "tarv-modemsim: %zu messages delivered\n", scenario.sms.size());
    }
    return received;
}

} // namespace

int main(int argc, char** argv)
{
    SArguments arguments;
    if (const auto exitCode = ParseArguments(argc, argv, arguments)) {
        return *exitCode;
    }

    std::string error;
    const auto scenario = SModemScenario::Load(arguments.scenarioPath, error);
    if (!scenario) {
        std::fprintf(stderr, "tarv-modemsim: %s\n", error.c_str());
        return 1;
    }

    // A reader of the log that goes away must not end the simulator in the
    // middle of a write, with the device link left behind: the write fails.
    std::signal(SIGPIPE, SIG_IGN);

    // Blocked before the simulator thread starts, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    try {
        CModemSimulator::SOptions options;
        options.root = arguments.root;
        options.timeScale = arguments.scale;
        CModemSimulator simulator(*scenario, options);
        std::fprintf(stderr, "tarv-modemsim: running, power key %s, device %s\n", simulator.PowerKeyPath().c_str(),
                     simulator.DevicePath().c_str());
        CModemControl control(simulator, *scenario);
        const int received = ServeSignals(signals, simulator, control, *scenario, arguments.controlPath);
        std::fprintf(stderr, "tarv-modemsim: signal %d, stopping\n", received);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarv-modemsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
