// Time and platform calls of one drive enumeration as an export makes it (take the shared manager,
// refresh it, release it) on a large machine: 32 GPT disks of 128 partitions, 20 of them with letters.
#include <benchmark/benchmark.h>

#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "sim/MachineBuilder.h"

namespace {

constexpr int kDisks = 32;
constexpr int kPartitionsPerDisk = 128;
constexpr int kLetteredVolumes = 20;
constexpr std::uint64_t kPartitionSectors = 204800;

sim::MachineModel largeMachine() {
    sim::MachineBuilder builder;
    int lettered = 0;
    for (int disk = 0; disk < kDisks; ++disk) {
        builder.gptDisk(disk, (kPartitionsPerDisk + 2) * kPartitionSectors * 512);
        for (int p = 0; p < kPartitionsPerDisk; ++p) {
            builder.basicData(2048 + static_cast<std::uint64_t>(p) * kPartitionSectors, kPartitionSectors);
            // Spread the letters over the disks: C, D, ... on every tenth partition of the first disks.
            if (p % 64 == 0 && lettered < kLetteredVolumes) {
                builder.volume(static_cast<wchar_t>(L'C' + lettered++), L"NTFS", L"");
            } else {
                builder.volumeWithoutLetter(L"NTFS", L"");
            }
        }
    }
    return builder.build();
}

void enumerateOnce() {
    PER::DriveManager* manager = PER::DriveManager::GetInstance();
    manager->Enumerate();
    benchmark::DoNotOptimize(manager->GetDriveCount());
    PER::DriveManager::ReleaseInstance();
}

void BM_EnumerateLargeMachine(benchmark::State& state) {
    sim::Machine machine(largeMachine());
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
