// Time and platform calls of one drive enumeration as an export makes it (take the shared manager,
// refresh it, release it) on a large machine: 32 GPT disks of 128 partitions, 20 of them with letters.
#include <benchmark/benchmark.h>

#include "LargeMachine.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"

namespace {

void enumerateOnce() {
    PER::DriveManager* manager = PER::DriveManager::GetInstance();
    manager->Enumerate();
    benchmark::DoNotOptimize(manager->GetDriveCount());
    PER::DriveManager::ReleaseInstance();
}

void BM_EnumerateLargeMachine(benchmark::State& state) {
    sim::Machine machine(bench::largeMachine());
    kvph::ScopedPlatform installed(machine);
    for (auto _ : state) {
        enumerateOnce();
    }
    const double iterations = static_cast<double>(state.iterations());
    for (const auto& [method, count] : machine.callCounts()) {
        state.counters[method] = benchmark::Counter(count / iterations);
    }
}
BENCHMARK(BM_EnumerateLargeMachine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
