// Wipes a whole disk into one primary NTFS volume with diskpart, marked active on an MBR disk.
#pragma once

#include <cstdint>
#include <string>

namespace kvph {

// diskNumber: N of \\.\PhysicalDriveN; gptDisk: the disk's partition style is GPT, which a clean keeps,
// so its script has no "active" line; volumeLabel and driveLetter: ANSI script arguments, an empty
// label gives the script without one. Up to three attempts, 1000 ms apart. 1 when one succeeded.
int FormatDisk(std::uint32_t diskNumber, bool gptDisk, const std::string& volumeLabel,
               const std::string& driveLetter);

}  // namespace kvph
