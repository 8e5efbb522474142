// Raw disk images: the partition table of a host file, read as Windows reads it from a disk.
#pragma once

#include <string>

#include "sim/machine/Model.h"

namespace sim {

// Fills `disk` (size, style, MBR with its chain of extended boot records, or GPT) from the image at
// `hostPath`, using the disk's bytesPerSector. False with a message when the file cannot be read. A
// disk without a boot signature is RAW; a protective MBR with a valid GPT header is GPT.
bool readDiskImage(const std::string& hostPath, Disk& disk, std::string& error);

}  // namespace sim
