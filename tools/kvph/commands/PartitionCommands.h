// The kvph commands that hide, show and format volumes and propose a free drive letter.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

// `hide LETTER`: gives the volume's partition the hidden type (PH_SetHidden).
CommandResult hideVolume(Host& host, const std::vector<std::wstring>& arguments);
// `unhide [LETTER]`: shows the MBR partitions hidden with type 1B again, the first under LETTER when
// given (PH_SetNonHidden).
CommandResult unhideVolumes(Host& host, const std::vector<std::wstring>& arguments);
// `format LETTER [LABEL]`: wipes the disk of that volume, when it is alone there, into one NTFS volume
// (PH_FormatNTFS).
CommandResult formatDisk(Host& host, const std::vector<std::wstring>& arguments);
// `free-letter`: the letter PH_FindUsableLabel proposes.
CommandResult freeLetter(Host& host, const std::vector<std::wstring>& arguments);

}  // namespace kvph::tool
