// One entry of a disk's partition list: a partition, an extended container or an unallocated gap.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace PER {

enum class PartitionKind : std::uint32_t {
    Data = 0,       // MBR primary partitions; GPT basic data and recovery partitions
    Extended = 1,   // MBR extended partition container
    Logical = 2,    // MBR logical drives, and the record spanning an extended partition without any
    Reserved = 3,   // GPT reserved partition
    EfiSystem = 4,  // GPT EFI system partition
    Unused = 5,     // unallocated gaps; GPT partitions of any other type
};

// "Data", "Extended", ... as the kind is named in listings.
const char* PartitionKindName(PartitionKind kind);

// The label of a volume that has none, in records and in Partition.ini.
inline constexpr wchar_t kNoLabel[] = L"NONAME";

constexpr std::size_t kPartitionInfoBytes = 144;  // sizeof(PARTITION_INFORMATION_EX)

struct PartitionRecord {
    std::uint32_t index = 0;            // position in the disk's list, gaps and containers counted
    std::uint32_t partitionNumber = 0;  // PartitionNumber of the layout entry; 0 for gaps
    std::int64_t sizeMB = 0;
    PartitionKind kind = PartitionKind::Data;
    std::wstring letter;  // "", "E", or after a volume query "E:\" / ":\"
    std::wstring fileSystem;
    std::wstring label;          // kNoLabel for a queried volume with an empty label
    std::int32_t readOnly = -1;  // -1 until a volume query succeeds, then 1 or 0
    std::array<std::uint8_t, kPartitionInfoBytes> info{};  // the layout entry, all zero for gaps
};

}  // namespace PER
