// Round trip of enable/disable requests over the Unix socket: the transport
// alone, and through the daemon's lifecycle machine. Reports p50 and p99.

#include "platform/ipc/appcommunicationhost.h"
#include "platform/log/log.h"
#include "platform/rootdir/rootdir.h"
#include "src/components/lifecycle/tarvhsmactionhandler.h"
#include "src/processcontrolservice.h"
#include "statemachines/tarvhsm.h"
#include "statemachines/utils/statemachinesutility.h"
#include "tests/components/lifecycle/fakeconnectionhandler.h"
#include "tests/support/tempdir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Host = AppCommunicationHost<GrpcBackend>;

class CInstantControl : public IServedProcessControl {
public:
    ipc::MResult Enable() override { return {}; }
    ipc::MResult Disable() override { return {}; }
    void InstallSenders(SSenders) override {}
};

// The daemon's lifecycle actions on a station of scripted handlers, commands
// and host name: every network action succeeds at once, so a round trip
// costs the machine, the actions and the transport only.
struct SScriptedStation {
    SScriptedStation()
    {
        config->bools = {{HwHasWlan, true}, {HwHasEthernet, true}, {HwHasLte, true}, {HwHasPlc, true}};
        config->strings = {{Hostname, "station-1"}, {ProductSn, "00-00-000-000"}};
        ON_CALL(*runner, Run(testing::_, testing::_)).WillByDefault(testing::Return(SCommandResult{0, ""}));
        ON_CALL(*hostname, SetHostname(testing::_)).WillByDefault(testing::Return(true));
        actions = std::make_shared<CTarvHsmActionHandler>(config, std::make_shared<LifecycleFakes::CNullClient>(),
                                                          runner, hostname,
                                                          std::make_shared<LifecycleFakes::CNoNtp>(), IClock::Steady());
        actions->SetHandlers(station.Set());
    }
    ~SScriptedStation() { actions->Stop(); }

    std::shared_ptr<HandlerMocks::CFakeConfig> config = std::make_shared<HandlerMocks::CFakeConfig>();
    LifecycleFakes::SFakeStation station{config};
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockRunCommand>> runner =
        std::make_shared<testing::NiceMock<HandlerMocks::MockRunCommand>>();
    std::shared_ptr<testing::NiceMock<HandlerMocks::MockHostnameManager>> hostname =
        std::make_shared<testing::NiceMock<HandlerMocks::MockHostnameManager>>();
    std::shared_ptr<CTarvHsmActionHandler> actions;
};

struct SServed {
    explicit SServed(const std::shared_ptr<IServedProcessControl>& control)
    {
        root.WriteFile("etc/iipc.json", R"({"TarvGenCtrl": "unix:/run/iipc/tarvgenctrl.sock"})");
        CRootDir::Set(root.Root());
        server = std::make_shared<Host>(root.Root() + "etc/iipc.json");
        server->AddService<IGenericControl>("TarvGenCtrl", control);
        server->StartServices();
        serverThread = std::thread([s = server] { s->RunServer(); });
        client = std::make_shared<Host>(root.Root() + "etc/iipc.json");
        remote = client->CreateClient<IGenericControl>("TarvGenCtrl")->GetInterface();
    }
    ~SServed()
    {
        remote.reset();
        client->Stop();
        server->Stop();
        serverThread.join();
    }

    TestSupport::CTempDir root;
    std::shared_ptr<Host> server;
    std::shared_ptr<Host> client;
    std::shared_ptr<IGenericControl> remote;
    std::thread serverThread;
};

void Report(benchmark::State& state, std::vector<double>& micros)
{
    if (micros.empty()) {
        return;
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

template <typename Request>
void Measure(benchmark::State& state, Request&& request)
{
    std::vector<double> micros;
    micros.reserve(100000);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        request();
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    Report(state, micros);
}

void BM_EnableRoundTripTransport(benchmark::State& state)
{
    SServed served(std::make_shared<CInstantControl>());
    served.remote->Enable(); // connects
    Measure(state, [&] { benchmark::DoNotOptimize(served.remote->Enable()); });
}
BENCHMARK(BM_EnableRoundTripTransport)->UseRealTime();

// Alternating enable and disable through the lifecycle machine and its
// actions: Disabled -> Enabling -> Enabled -> Disabling -> Disabled.
void BM_EnableDisableRoundTripLifecycle(benchmark::State& state)
{
    Log::SetLogLevel(Log::warning);
    auto service = std::make_shared<CProcessControlService>();
    SScriptedStation scripted;
    auto handler = scripted.actions;
    auto machine = std::make_shared<CTarvHsm>(handler);
    ConnectIProcessControl(handler, service, std::static_pointer_cast<IHsmInterface>(machine));
    std::thread machineThread;
    {
        // Adding the service installs the senders the machine's first state report uses.
        SServed served(service);
        machineThread = std::thread([machine] { machine->Run(); });
        served.remote->Disable(); // initialises: Uninitialized -> Disabled
        bool enable = true;
        std::size_t round = 0;
        Measure(state, [&] {
            benchmark::DoNotOptimize(enable ? served.remote->Enable() : served.remote->Disable());
            enable = !enable;
            if (++round % 1024 == 0) {
                scripted.station.journal->Take(); // bounded memory over long runs
            }
        });
    }
    machine->PostEvent(std::make_shared<TarvHsm::IntTerminate>());
    machineThread.join();
}
BENCHMARK(BM_EnableDisableRoundTripLifecycle)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
