// Whether a VHDX file is attached, from diskpart's "list vdisk" output captured through a batch file.
#pragma once

#include <optional>
#include <string>

namespace kvph {

// What the listing says of one VHDX: attached or not, and the disk (the N of \\.\PhysicalDriveN) that
// diskpart shows it on, when its row holds one.
struct VdiskPresence {
    bool attached = false;
    std::optional<int> diskNumber;
};

// Reads the captured listing. A row names the VHDX when its last column is the whole path; it is attached
// when the text before the path holds "Attached" or its disk field holds a number. The disk field is the
// row's text under the second group of the dash line that follows the table's heading; diskpart writes
// its headings and words in the display language, so only the dashes and the digits are relied on.
VdiskPresence FindAttachedInVdiskList(const std::wstring& resultPath, const std::wstring& vhdxPath);

// Runs diskpart's "list vdisk" through the batch capture and reads it, as PH_CheckExistVHDX does for the
// exports that ask it: nullopt when no listing was read (the script could not be written, diskpart could
// not be started or failed, or an error stopped the query, logged as the export logs it).
std::optional<VdiskPresence> QueryVdiskPresence(const std::wstring& vhdxPath);

}  // namespace kvph
