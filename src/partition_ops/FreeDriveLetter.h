// Which drive letters are free, for PH_FindUsableLabel, PH_CreateVHDX and PH_SetNonHidden.
//
// A letter is free only when GetLogicalDrives does not report it and no path of that name exists: an
// empty card reader or optical drive, or a mapped drive out of service, holds its letter while no path
// "G:" exists, and diskpart refuses to assign a letter that is held.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kvph {

// The letters GetLogicalDrives reports, one bit each (bit 0 is A). nullopt after one log line when the
// call fails: then no letter can be shown to be free.
std::optional<std::uint32_t> AssignedDriveLetters();

// Whether the letter (A to Z, upper case) is free, given the letters GetLogicalDrives reported.
bool IsFreeDriveLetter(wchar_t letter, std::uint32_t assignedLetters);

// The first free one of "Z:" down to "C:"; empty when none is, or when the letters in use are unknown.
// A and B are never proposed.
std::wstring FindFreeDriveLetter();

}  // namespace kvph
