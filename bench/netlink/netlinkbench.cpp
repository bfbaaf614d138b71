// Cost of one status query (netlink socket, full link cache, lookup by name)
// with 5, 50 and 500 links in the namespace, and the share of the address
// lookup and of the Ethernet handler's gateway command. Runs in a private
// network namespace of its own (root), filled with veth pairs.
#include "platform/ipc/signaldefinition.h"
#include "src/components/system/runcommand.h"
#include "src/components/handlers/tarvconnectionhandlerbase.h"
#include "src/components/links/tarverrorhandler.h"
#include "src/components/handlers/tarvethhandler.h"
#include "src/components/links/netlinkptr.h"
#include "src/components/links/tarvnetlink.h"

#include <benchmark/benchmark.h>

#include <linux/netlink.h>

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

// Counts heap allocations of the whole process (libnl allocates with malloc,
// not operator new).
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {
std::atomic<std::size_t> gAllocations{0};
} // namespace
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* malloc(std::size_t size) noexcept
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) noexcept
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
}
std::size_t Allocations() { return gAllocations.load(std::memory_order_relaxed); }
#else
std::size_t Allocations() { return 0; }
#endif

namespace {

using namespace std::chrono_literals;

class CFixedConfig : public ITarvConfig {
public:
    bool GetBool(EConfigKey key) const override { return key == HwHasEthernet || key == HwHasWlan; }
    std::string GetString(EConfigKey) const override { return {}; }
    std::vector<EConfigKey> CheckChanges() override { return {}; }
};

class CNoDns : public ITarvDnsManager {
public:
    bool SetDnsServers(const std::vector<std::string>&) override { return false; }
    bool ClearDnsServers() override { return false; }
    std::optional<std::queue<std::string>> GetDnsServers() override { return std::nullopt; }
    void UpdateSystemResolvConf() override {}
};

const CSignalDefinition<bool> kSignal(123, "Eth state", false);

class CBenchHandler : public CTarvConnectionHandlerBase {
public:
    CBenchHandler(ipc::EIfName id, const std::shared_ptr<IRunCommand>& runner,
                  const std::shared_ptr<ITarvErrorHandler>& errorHandler, const std::shared_ptr<ITarvNetlink>& netlink)
        : CTarvConnectionHandlerBase(
              {.config = std::make_shared<CFixedConfig>(), .runCommand = runner, .netlink = netlink,
               .errorHandler = errorHandler},
              {id, HwHasWlan, 8s, &kSignal})
    {
    }
    ipc::MNetStatus StatusWithAddress()
    {
        ipc::MNetStatus status = GetStatus();
        GetIpProperties(status);
        return status;
    }
};

int gPairs = 0; // veth pairs besides eth0/wlan0

// Links in the namespace: lo, eth0 and wlan0 with their peers, and filler pairs.
int LinkCount() { return 5 + 2 * gPairs; }

void EnsureLinks(int wanted)
{
    const int pairs = wanted <= 5 ? 0 : (wanted - 5 + 1) / 2;
    if (pairs == gPairs) {
        return;
    }
    std::ofstream batch("/tmp/tarv-bench-links");
    for (int i = gPairs; i < pairs; ++i) {
        batch << "link add f" << i << " type veth peer name f" << i << "p\n";
    }
    for (int i = pairs; i < gPairs; ++i) {
        batch << "link del f" << i << "\n";
    }
    batch.close();
    if (std::system("ip -batch /tmp/tarv-bench-links") != 0) {
        std::fprintf(stderr, "could not create the links\n");
        std::exit(1);
    }
    gPairs = pairs;
}

struct SServices {
    std::shared_ptr<CRunCommand> runner = std::make_shared<CRunCommand>();
    std::shared_ptr<CTarvNetlink> netlink = std::make_shared<CTarvNetlink>();
    std::shared_ptr<CTarvErrorHandler> errorHandler = std::make_shared<CTarvErrorHandler>(runner, netlink);
};

void Report(benchmark::State& state, std::size_t allocationsBefore)
{
    state.counters["links"] = LinkCount();
    state.counters["allocs/call"] =
        static_cast<double>(Allocations() - allocationsBefore) / static_cast<double>(state.iterations());
}

// Base status query: socket, link cache of every link, lookup, state.
void BM_GetStatus(benchmark::State& state)
{
    EnsureLinks(static_cast<int>(state.range(0)));
    SServices services;
    CBenchHandler handler(ipc::EEth0, services.runner, services.errorHandler, services.netlink);
    handler.GetStatus();
    const std::size_t before = Allocations();
    for (auto _ : state) {
        benchmark::DoNotOptimize(handler.GetStatus());
    }
    Report(state, before);
}
BENCHMARK(BM_GetStatus)->Arg(5)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

// Plus address and netmask (getifaddrs), as the Ethernet and WLAN handlers
// add when connected.
void BM_GetStatusWithAddress(benchmark::State& state)
{
    EnsureLinks(static_cast<int>(state.range(0)));
    SServices services;
    CBenchHandler handler(ipc::EWlan0, services.runner, services.errorHandler, services.netlink);
    handler.StatusWithAddress();
    const std::size_t before = Allocations();
    for (auto _ : state) {
        benchmark::DoNotOptimize(handler.StatusWithAddress());
    }
    Report(state, before);
}
BENCHMARK(BM_GetStatusWithAddress)->Arg(5)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

// The Ethernet handler's full status of a connected link: also the gateway
// through the shell pipeline over the route table.
void BM_EthGetStatusConnected(benchmark::State& state)
{
    EnsureLinks(static_cast<int>(state.range(0)));
    SServices services;
    CTarvEthHandler handler({.config = std::make_shared<CFixedConfig>(), .runCommand = services.runner,
                             .netlink = services.netlink, .errorHandler = services.errorHandler,
                             .ethDnsManager = std::make_shared<CNoDns>()});
    if (handler.GetStatus().connectionstate() != ipc::MNetStatus::EConnected) {
        state.SkipWithError("eth0 is not up");
        return;
    }
    const std::size_t before = Allocations();
    for (auto _ : state) {
        benchmark::DoNotOptimize(handler.GetStatus());
    }
    Report(state, before);
}
BENCHMARK(BM_EthGetStatusConnected)->Arg(50)->Unit(benchmark::kMicrosecond);

// For comparison: the kernel asked for the one link by name (RTM_GETLINK with
// IFLA_IFNAME) instead of a dump of every link.
void BM_LinkByNameRequest(benchmark::State& state)
{
    EnsureLinks(static_cast<int>(state.range(0)));
    const std::size_t before = Allocations();
    for (auto _ : state) {
        Tarv::NlSocketPtr socket(nl_socket_alloc());
        if (nl_connect(socket.get(), NETLINK_ROUTE) != 0) {
            state.SkipWithError("nl_connect failed");
            return;
        }
        rtnl_link* raw = nullptr;
        if (rtnl_link_get_kernel(socket.get(), 0, "eth0", &raw) < 0) {
            state.SkipWithError("eth0 not found");
            return;
        }
        const Tarv::RtnlLinkPtr link(raw);
        benchmark::DoNotOptimize(rtnl_link_get_operstate(link.get()));
    }
    Report(state, before);
}
BENCHMARK(BM_LinkByNameRequest)->Arg(5)->Arg(50)->Arg(500)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "bench_netlink needs root for a private network namespace (%s)\n",
                     geteuid() != 0 ? "not root" : std::strerror(errno));
        return 0;
    }
    if (std::system("ip link set lo up && ip link add eth0 type veth peer name eth0-peer && "
                    "ip link add wlan0 type veth peer name wlan0-peer && ip link set eth0-peer up && "
                    "ip link set eth0 up && ip link set wlan0-peer up && ip link set wlan0 up && "
                    "ip addr add 192.168.7.2/24 dev eth0 && ip addr add 192.168.8.2/24 dev wlan0 && "
                    "ip route add default via 192.168.7.1 dev eth0") != 0) {
        std::fprintf(stderr, "could not set up the links\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove("/tmp/tarv-bench-links");
    return 0;
}
