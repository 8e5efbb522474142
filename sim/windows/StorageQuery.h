// A simulated drive's answers to IOCTL_STORAGE_QUERY_PROPERTY and IOCTL_ATA_PASS_THROUGH.
#pragma once

#include <cstdint>

#include "platform/Platform.h"
#include "sim/machine/Model.h"

namespace sim {

kvph::IoResult answerStorageQuery(const Disk& disk, const kvph::Bytes& input, std::uint32_t outputSize);
kvph::IoResult answerAtaPassThrough(const Disk& disk, const kvph::Bytes& input, std::uint32_t outputSize);

}  // namespace sim
