// Time and platform calls of one PH_ListFixedPartition on the large machine: 32 GPT disks of 128
// partitions, 20 of them with letters, every disk a fixed SATA SSD that answers IDENTIFY.
#include <benchmark/benchmark.h>

#include "KvPartitionHelper.h"
#include "LargeMachine.h"
#include "platform/Platform.h"
#include "sim/Machine.h"

namespace {

void BM_ListFixedPartitionLargeMachine(benchmark::State& state) {
    sim::Machine machine(bench::largeMachine());
    machine.putFolder(L"C:\\Program Files");
    machine.putFolder(L"C:\\Program Files\\Host");
    kvph::ScopedPlatform installed(machine);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PH_ListFixedPartition());
        machine.clearLog();
    }
    const double iterations = static_cast<double>(state.iterations());
    int total = 0;
    for (const auto& [method, count] : machine.callCounts()) {
        state.counters[method] = benchmark::Counter(count / iterations);
        total += count;
    }
    state.counters["allPlatformCalls"] = benchmark::Counter(total / iterations);
}
BENCHMARK(BM_ListFixedPartitionLargeMachine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
