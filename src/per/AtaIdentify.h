// IDENTIFY DEVICE through IOCTL_ATA_PASS_THROUGH: the request the drive is sent, and where its answer
// holds the nominal media rotation rate.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

namespace PER {

// ATA_PASS_THROUGH_EX for IDENTIFY DEVICE, data in, followed by its 512-byte data area.
kvph::Bytes IdentifyDeviceRequest();

// Word 217 of the IDENTIFY data in an answered request: 1 for non-rotating media.
std::uint16_t RotationRateOf(const kvph::Bytes& answer);

}  // namespace PER
