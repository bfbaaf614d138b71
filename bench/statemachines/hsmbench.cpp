// Dispatch throughput of the lifecycle machine, and heap allocations per
// event. The allocation count comes from the replaced global operator new
// below, so it covers everything, including the standard library.

// The replaced operators pair malloc with free; GCC cannot see that through
// inlined standard containers and warns about every delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include "statemachines/tarvhsm.h"
#include "platform/log/log.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<std::size_t> gAllocations{0};
}

void* operator new(std::size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

// Actions that do nothing, so only the engine is measured.
class CIdleHandler : public CTarvHsmActionHandlerBase {
public:
    void IntDisableAll() override {}
    void IntEnableNetworks() override {}
    void IntHandleError() override {}
    void IntInitializeNetwork() override {}
    void IntInitializeNtp() override {}
    void IntStopAliveTimer() override {}
    void IntReinitialize() override {}
    void IntSetTarvEnabled() override {}
    void IntSetTarvNotEnabled() override {}
    void IntStartAliveTimer() override {}
    void IntStartNtpd() override {}
    void IntStopRecovery() override {}
    void IntStopWorkerThread() override {}
};

constexpr std::size_t kBatch = 10000;

std::shared_ptr<CTarvHsm> EnabledMachine()
{
    Log::SetLogLevel(Log::info); // trace lines are checked for level, not written
    auto hsm = std::make_shared<CTarvHsm>(std::make_shared<CIdleHandler>());
    // The idle actions post nothing: the test drives the lifecycle to Enabled.
    hsm->PostEvent(std::make_shared<TarvHsm::ExtDisableReq>());
    hsm->PostEvent(std::make_shared<TarvHsm::IntInitializingDone>());
    hsm->PostEvent(std::make_shared<TarvHsm::ExtEnableReq>());
    hsm->RunUntilIdle();
    return hsm;
}

// Events prepared and queued outside the timing; measured: taking them from
// the queue and dispatching them. Event is IntAlive (tested against the
// leaf's four reactions and five of the composite's) or ExtEnableReq (the
// leaf's fourth reaction).
template <typename Event>
void BM_Dispatch(benchmark::State& state)
{
    auto hsm = EnabledMachine();
    std::vector<std::shared_ptr<IHsmEvent>> events(kBatch);
    std::size_t allocations = 0;
    std::size_t dispatched = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& e : events) {
            e = std::make_shared<Event>();
            hsm->PostEvent(e);
        }
        const std::size_t before = gAllocations.load(std::memory_order_relaxed);
        state.ResumeTiming();
        dispatched += hsm->RunUntilIdle();
        allocations += gAllocations.load(std::memory_order_relaxed) - before;
    }
    state.SetItemsProcessed(static_cast<int64_t>(dispatched));
    state.counters["allocs_per_dispatch"] = static_cast<double>(allocations) / static_cast<double>(dispatched);
}
BENCHMARK(BM_Dispatch<TarvHsm::IntAlive>);
BENCHMARK(BM_Dispatch<TarvHsm::ExtEnableReq>);

// Creating, posting and dispatching: what a poster and the machine cost together.
void BM_CreatePostDispatch(benchmark::State& state)
{
    auto hsm = EnabledMachine();
    std::size_t allocations = 0;
    std::size_t dispatched = 0;
    for (auto _ : state) {
        const std::size_t before = gAllocations.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < kBatch; ++i) {
            hsm->PostEvent(std::make_shared<TarvHsm::IntAlive>());
        }
        dispatched += hsm->RunUntilIdle();
        allocations += gAllocations.load(std::memory_order_relaxed) - before;
    }
    state.SetItemsProcessed(static_cast<int64_t>(dispatched));
    state.counters["allocs_per_event"] = static_cast<double>(allocations) / static_cast<double>(dispatched);
}
BENCHMARK(BM_CreatePostDispatch);

// A full external transition with entry and exit actions: Enabled -> Disabling
// -> Disabled -> Enabling -> Enabled, driven by posted events (the entry of
// Enabling and Enabled post one event each).
void BM_TransitionCycle(benchmark::State& state)
{
    auto hsm = EnabledMachine();
    std::size_t dispatched = 0;
    for (auto _ : state) {
        hsm->PostEvent(std::make_shared<TarvHsm::ExtDisableReq>());
        hsm->PostEvent(std::make_shared<TarvHsm::IntDisablingDone>());
        hsm->PostEvent(std::make_shared<TarvHsm::ExtEnableReq>());
        dispatched += hsm->RunUntilIdle();
    }
    state.SetItemsProcessed(static_cast<int64_t>(dispatched));
}
BENCHMARK(BM_TransitionCycle);

} // namespace

BENCHMARK_MAIN();
