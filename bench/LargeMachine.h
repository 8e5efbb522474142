// The large machine of the benchmarks: 32 GPT disks of 128 partitions each, 20 of them with letters.
#pragma once

#include <cstdint>

#include "sim/MachineBuilder.h"

namespace bench {

constexpr int kDisks = 32;
constexpr int kPartitionsPerDisk = 128;
constexpr int kLetteredVolumes = 20;
constexpr std::uint64_t kPartitionSectors = 204800;

inline sim::MachineModel largeMachine() {
    sim::MachineBuilder builder;
    int lettered = 0;
    for (int disk = 0; disk < kDisks; ++disk) {
        builder.gptDisk(disk, (kPartitionsPerDisk + 2) * kPartitionSectors * 512);
        for (int p = 0; p < kPartitionsPerDisk; ++p) {
            builder.basicData(2048 + static_cast<std::uint64_t>(p) * kPartitionSectors, kPartitionSectors);
            // Spread the letters over the disks: C, D, ... on every 64th partition of the first disks.
            if (p % 64 == 0 && lettered < kLetteredVolumes) {
                builder.volume(static_cast<wchar_t>(L'C' + lettered++), L"NTFS", L"");
            } else {
                builder.volumeWithoutLetter(L"NTFS", L"");
            }
        }
    }
    return builder.build();
}

}  // namespace bench
