// Building the chain of extended boot records of a simulated MBR disk, one record per logical drive.
#pragma once

#include "sim/machine/Model.h"

namespace sim {

// The primary slot holding the extended partition (type 0x05 or 0x0F), or null.
const MbrSlot* extendedSlot(const MbrTable& table);

// Appends a logical drive (absolute start) in a new extended boot record at the end of the chain and
// links the previous record to it. The first record lies at the extended partition's start; later ones
// 1 MiB before their drive where there is room, as the partitioning tools place them.
void appendLogicalDrive(MbrTable& table, const MbrSlot& logical);

}  // namespace sim
