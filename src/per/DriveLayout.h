// IOCTL_DISK_GET_DRIVE_LAYOUT_EX as the walks issue it: a buffer of 128 entries, doubled while the driver
// answers ERROR_INSUFFICIENT_BUFFER.
#pragma once

#include <cstdint>
#include <optional>

#include "per/LayoutEntry.h"
#include "platform/Platform.h"

namespace PER {

// The first buffer holds 128 entries, the usual size of a GPT entry array, so most disks answer at once.
constexpr std::uint32_t kFirstLayoutEntries = 128;
// The largest buffer tried holds 2048 entries (48 + 576 x 512 bytes); a driver that still wants more is
// treated as failing, so a disk that always answers "insufficient buffer" cannot grow the buffer forever.
constexpr std::uint32_t kMaxLayoutEntries = 2048;

std::uint32_t layoutBufferBytes(std::uint32_t entries);

class DriveLayout {
public:
    DriveLayout(kvph::Bytes buffer, std::uint32_t bytesReturned);

    // PartitionCount of the header, limited to the entries that the returned bytes hold.
    std::uint32_t partitionCount() const { return partitionCount_; }
    std::uint32_t headerU32(std::size_t offset) const { return ByteReader(buffer_).u32(offset); }
    GuidBytes headerGuid(std::size_t offset) const { return ByteReader(buffer_).bytes<16>(offset); }
    // Entry i of the buffer. Entries at or beyond partitionCount() read as all zero.
    LayoutEntry entry(std::uint32_t i) const;

private:
    kvph::Bytes buffer_;
    std::uint32_t partitionCount_ = 0;
};

enum class ShortReadPolicy {
    Reject,           // any failure other than ERROR_INSUFFICIENT_BUFFER fails the query
    AcceptFullBuffer  // a failure that still reports a full buffer of returned bytes is read as success
};

struct LayoutQueryResult {
    std::optional<DriveLayout> layout;
    std::uint32_t error = 0;  // the last error of the failing call when `layout` is empty
};

LayoutQueryResult queryDriveLayout(kvph::Handle device, ShortReadPolicy policy);

}  // namespace PER
