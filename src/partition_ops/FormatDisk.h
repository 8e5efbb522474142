// Wipes a whole disk into one active primary NTFS volume with diskpart.
#pragma once

#include <cstdint>
#include <string>

namespace kvph {

// diskNumber: N of \\.\PhysicalDriveN; volumeLabel and driveLetter: ANSI script arguments, an empty
// label gives the script without one. Up to three attempts, 1000 ms apart. 1 when one succeeded.
int FormatDisk(std::uint32_t diskNumber, const std::string& volumeLabel, const std::string& driveLetter);

}  // namespace kvph
