// Where a lettered volume sits among the physical drives, in the two numberings the library uses: the
// record's position in its disk's list (what Partition.ini and UserData.ini hold) and diskpart's own
// partition number (what "select partition=" needs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "per/DriveData.h"
#include "per/DriveManager.h"

namespace PER {

// Partitions diskpart counts: every layout entry with a partition number, and extended containers.
// Unallocated gaps and the record that stands for an empty extended partition are not partitions.
bool IsDiskpartPartition(const PartitionRecord& record);

// diskpart's number for the record at a 0-based position: 1 + the partitions before it.
int DiskpartPartitionNumber(const DriveData& data, std::size_t position);

struct VolumeLocation {
    std::size_t drivePosition = 0;  // the drive's position in the manager's list
    std::uint32_t diskNumber = 0;
    int position = 0;        // 1-based position in the disk's record list, gaps and containers counted
    int diskpartNumber = 0;  // diskpart's own partition number
};

// "E", "E:" and "E:\" all become "E:\": a colon is appended when the text has none, then a backslash
// when it has none.
std::wstring CompleteDriveLetter(std::wstring letter);

// The record whose letter equals `completedLetter` (case-insensitive), skipping partitions without a
// letter (":\"). The first match on a drive ends that drive's search; a match on a later drive replaces
// one on an earlier drive.
std::optional<VolumeLocation> FindLetteredVolume(DriveManager& manager, const std::wstring& completedLetter);

}  // namespace PER
