// The kvph commands about the partition inventory and the VHDX drive's volume.
#pragma once

#include <string>
#include <vector>

#include "kvph/commands/CommandRow.h"

namespace kvph::tool {

// `list`: rebuilds Partition.ini (PH_ListFixedPartition) and shows it, one row per section.
CommandResult listInventory(Host& host, const std::vector<std::wstring>& arguments);
// Partition.ini as it stands, as the table `list` shows, without calling an export (result 0).
CommandResult showInventory(Host& host);
// `letter PATH`: the drive letter of the VHDX drive's volume (PH_GetVHDXVolumeLabel).
CommandResult vhdxLetter(Host& host, const std::vector<std::wstring>& arguments);
// `readonly PATH`: whether that volume is read-only (PH_CheckVHDXReadOnly).
CommandResult vhdxReadOnly(Host& host, const std::vector<std::wstring>& arguments);

}  // namespace kvph::tool
