// Changes the MBR type of one partition with diskpart, and gives it a drive letter when one is named.
#pragma once

#include <cstdint>
#include <string>

namespace kvph {

inline constexpr char kHiddenTypeId[] = "1B";
inline constexpr char kShownTypeId[] = "0B";
// kHiddenTypeId as the type byte of the partition table.
inline constexpr std::uint8_t kHiddenMbrType = 0x1B;

// diskNumber: N of \\.\PhysicalDriveN; partitionNumber: diskpart's own number of the partition; typeId
// and driveLetter: ANSI script arguments, the letter may be empty (no assign line). 1 when diskpart ran
// the script and exited with 0.
int SetPartitionId(std::uint32_t diskNumber, int partitionNumber, const std::string& typeId,
                   const std::string& driveLetter);

}  // namespace kvph
