#include "per/DriveLayout.h"

#include <algorithm>

#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

std::uint32_t layoutBufferBytes(std::uint32_t entries) {
    return win::layout::kHeaderSize + win::layout::kEntrySize * entries;
}

DriveLayout::DriveLayout(kvph::Bytes buffer, std::uint32_t bytesReturned) : buffer_(std::move(buffer)) {
    const std::size_t returned = std::min<std::size_t>(bytesReturned, buffer_.size());
    const std::size_t entriesHeld = returned < win::layout::kHeaderSize
                                        ? 0
                                        : (returned - win::layout::kHeaderSize) / win::layout::kEntrySize;
    const std::uint32_t declared = ByteReader(buffer_).u32(win::layout::kPartitionCount);
    partitionCount_ = static_cast<std::uint32_t>(std::min<std::size_t>(declared, entriesHeld));
}

LayoutEntry DriveLayout::entry(std::uint32_t i) const {
    if (i >= partitionCount_) {
        return LayoutEntry{};
    }
    const std::size_t offset =
        win::layout::kHeaderSize + static_cast<std::size_t>(i) * win::layout::kEntrySize;
    return LayoutEntry::parse(ByteReader(buffer_), offset);
}

LayoutQueryResult queryDriveLayout(kvph::Handle device, ShortReadPolicy policy) {
    for (std::uint32_t entries = kFirstLayoutEntries;; entries *= 2) {
        const std::uint32_t size = layoutBufferBytes(entries);
        kvph::IoResult io =
            kvph::platform().deviceIoControl(device, win::IOCTL_DISK_GET_DRIVE_LAYOUT_EX_, {}, size);
        if (io.ok) {
            return {DriveLayout(std::move(io.output), io.bytesReturned), 0};
        }
        if (io.error == win::ERROR_INSUFFICIENT_BUFFER_ && entries < kMaxLayoutEntries) {
            continue;
        }
        if (policy == ShortReadPolicy::AcceptFullBuffer && io.bytesReturned == size) {
            return {DriveLayout(std::move(io.output), io.bytesReturned), 0};
        }
        return {std::nullopt, io.error};
    }
}

}  // namespace PER
