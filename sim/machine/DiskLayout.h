// How Windows reports a simulated disk's partition table through IOCTL_DISK_GET_DRIVE_LAYOUT_EX.
//
// MBR: four entries for the master boot record's slots in table order, then four for each extended
// boot record in chain order (slot 0 normally the logical drive, slot 1 the link to the next record).
// Unused slots are all zero. Containers (types 0x05 and 0x0F) are not recognized and get partition
// number 0; every other used slot is numbered 1, 2, ... in layout order. A link's offset counts from the
// start of the extended partition, a logical drive's from its own boot record, and HiddenSectors is
// that distance in sectors. GPT: the used entries in table order, numbered from 1.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Platform.h"
#include "sim/machine/Model.h"

namespace sim {

struct LayoutSlot {
    std::uint64_t startSector = 0;
    std::uint64_t sectors = 0;
    std::uint32_t number = 0;
    // MBR
    std::uint8_t type = 0;
    bool boot = false;
    bool recognized = false;
    std::uint32_t hiddenSectors = 0;
    // GPT
    const GptEntry* gpt = nullptr;
};

bool isContainerType(std::uint8_t type);
// The partition types Windows marks as recognized (IsRecognizedPartition of the platform headers).
bool isRecognizedType(std::uint8_t type);

std::vector<LayoutSlot> layoutSlots(const Disk& disk);
// The partitions that carry a number (what "\Device\HarddiskN\PartitionM" exists for), without
// building the whole layout.
std::uint32_t numberedPartitionCount(const Disk& disk);
// The numbered partition with this number, or the one starting at this sector.
std::optional<LayoutSlot> partitionByNumber(const Disk& disk, std::uint32_t number);
std::optional<LayoutSlot> partitionByStart(const Disk& disk, std::uint64_t startSector);

// DRIVE_LAYOUT_INFORMATION_EX with its entries, exactly as many bytes as Windows returns.
kvph::Bytes layoutBytes(const Disk& disk);
// DISK_GEOMETRY_EX with DISK_PARTITION_INFO (56 bytes).
kvph::Bytes geometryBytes(const Disk& disk);

}  // namespace sim
