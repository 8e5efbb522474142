#include "sim/machine/DiskLayout.h"

#include "platform/WinConstants.h"

namespace sim {

namespace win = kvph::win;

namespace {

constexpr std::uint8_t kNtftBit = 0x80;
constexpr std::uint32_t kFixedMedia = 12;
constexpr std::uint32_t kRemovableMedia = 11;

class ByteWriter {
public:
    explicit ByteWriter(kvph::Bytes& bytes) : bytes_(bytes) {}
    void u8(std::size_t offset, std::uint8_t value) { bytes_.at(offset) = value; }
    void u32(std::size_t offset, std::uint32_t value) { put(offset, value, 4); }
    void u64(std::size_t offset, std::uint64_t value) { put(offset, value, 8); }
    void guid(std::size_t offset, const Guid& value) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            u8(offset + i, value[i]);
        }
    }

private:
    void put(std::size_t offset, std::uint64_t value, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            bytes_.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    kvph::Bytes& bytes_;
};

bool isUsed(const MbrSlot& slot) {
    return slot.type != 0;
}

LayoutSlot mbrSlot(const MbrSlot& slot, std::uint64_t hiddenFrom) {
    LayoutSlot out;
    if (!isUsed(slot)) {
        return out;
    }
    out.startSector = slot.start;
    out.sectors = slot.sectors;
    out.type = slot.type;
    out.boot = slot.boot;
    out.recognized = isRecognizedType(slot.type);
    out.hiddenSectors = static_cast<std::uint32_t>(slot.start - hiddenFrom);
    return out;
}

std::vector<LayoutSlot> mbrSlots(const MbrTable& table) {
    std::vector<LayoutSlot> slots;
    slots.reserve(4 * (1 + table.chain.size()));
    std::uint64_t extendedStart = 0;
    for (const MbrSlot& slot : table.primary) {
        slots.push_back(mbrSlot(slot, 0));
        if (isContainerType(slot.type) && extendedStart == 0) {
            extendedStart = slot.start;
        }
    }
    for (const MbrTable::BootRecord& record : table.chain) {
        for (const MbrSlot& slot : record.slots) {
            slots.push_back(mbrSlot(slot, isContainerType(slot.type) ? extendedStart : record.sector));
        }
    }
    std::uint32_t number = 0;
    for (LayoutSlot& slot : slots) {
        if (slot.type != 0 && !isContainerType(slot.type)) {
            slot.number = ++number;
        }
    }
    return slots;
}

std::vector<LayoutSlot> gptSlots(const GptTable& table) {
    std::vector<LayoutSlot> slots;
    slots.reserve(table.entries.size());
    std::uint32_t number = 0;
    for (const GptEntry& entry : table.entries) {
        LayoutSlot slot;
        slot.startSector = entry.start;
        slot.sectors = entry.sectors;
        slot.number = ++number;
        slot.gpt = &entry;
        slots.push_back(slot);
    }
    return slots;
}

std::uint32_t styleOf(const Disk& disk) {
    switch (disk.style) {
        case PartitionStyle::Mbr:
            return win::PARTITION_STYLE_MBR_;
        case PartitionStyle::Gpt:
            return win::PARTITION_STYLE_GPT_;
        case PartitionStyle::Raw:
            break;
    }
    return win::PARTITION_STYLE_RAW_;
}

void writeEntry(ByteWriter& out, std::size_t at, const Disk& disk, const LayoutSlot& slot) {
    namespace p = win::partition;
    const std::uint64_t sectorBytes = disk.geometry.bytesPerSector;
    out.u32(at + p::kPartitionStyle, styleOf(disk));
    out.u64(at + p::kStartingOffset, slot.startSector * sectorBytes);
    out.u64(at + p::kPartitionLength, slot.sectors * sectorBytes);
    out.u32(at + p::kPartitionNumber, slot.number);
    if (slot.gpt != nullptr) {
        out.guid(at + p::kGptPartitionType, slot.gpt->type);
        out.guid(at + p::kGptPartitionId, slot.gpt->id);
        out.u64(at + p::kGptAttributes, slot.gpt->attributes);
        for (std::size_t i = 0; i < slot.gpt->name.size() && i < p::kGptNameChars; ++i) {
            const std::uint32_t unit = static_cast<std::uint32_t>(slot.gpt->name[i]);
            out.u8(at + p::kGptName + 2 * i, static_cast<std::uint8_t>(unit));
            out.u8(at + p::kGptName + 2 * i + 1, static_cast<std::uint8_t>(unit >> 8));
        }
        return;
    }
    out.u8(at + p::kMbrPartitionType, slot.type);
    out.u8(at + p::kMbrBootIndicator, slot.boot ? 1 : 0);
    out.u8(at + p::kMbrRecognizedPartition, slot.recognized ? 1 : 0);
    out.u32(at + p::kMbrHiddenSectors, slot.hiddenSectors);
}

}  // namespace

bool isContainerType(std::uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

bool isRecognizedType(std::uint8_t type) {
    const auto known = [](std::uint8_t t) {
        return t == 0x01 || t == 0x04 || t == 0x06 || t == 0x07 || t == 0x0B || t == 0x0C || t == 0x0E;
    };
    if ((type & kNtftBit) != 0 && known(static_cast<std::uint8_t>(type & ~0xC0))) {
        return true;
    }
    return known(static_cast<std::uint8_t>(type & ~kNtftBit));
}

std::vector<LayoutSlot> layoutSlots(const Disk& disk) {
    switch (disk.style) {
        case PartitionStyle::Mbr:
            return mbrSlots(disk.mbr);
        case PartitionStyle::Gpt:
            return gptSlots(disk.gpt);
        case PartitionStyle::Raw:
            break;
    }
    return {};
}

std::uint32_t numberedPartitionCount(const Disk& disk) {
    if (disk.style == PartitionStyle::Gpt) {
        return static_cast<std::uint32_t>(disk.gpt.entries.size());
    }
    if (disk.style != PartitionStyle::Mbr) {
        return 0;
    }
    std::uint32_t count = 0;
    const auto countSlots = [&count](const std::array<MbrSlot, 4>& slots) {
        for (const MbrSlot& slot : slots) {
            count += slot.type != 0 && !isContainerType(slot.type) ? 1 : 0;
        }
    };
    countSlots(disk.mbr.primary);
    for (const MbrTable::BootRecord& record : disk.mbr.chain) {
        countSlots(record.slots);
    }
    return count;
}

std::optional<LayoutSlot> partitionByNumber(const Disk& disk, std::uint32_t number) {
    if (number == 0) {
        return std::nullopt;
    }
    if (disk.style == PartitionStyle::Gpt) {
        if (number > disk.gpt.entries.size()) {
            return std::nullopt;
        }
        const GptEntry& entry = disk.gpt.entries[number - 1];
        LayoutSlot slot;
        slot.startSector = entry.start;
        slot.sectors = entry.sectors;
        slot.number = number;
        slot.gpt = &entry;
        return slot;
    }
    for (const LayoutSlot& slot : layoutSlots(disk)) {
        if (slot.number == number) {
            return slot;
        }
    }
    return std::nullopt;
}

std::optional<LayoutSlot> partitionByStart(const Disk& disk, std::uint64_t startSector) {
    for (const LayoutSlot& slot : layoutSlots(disk)) {
        if (slot.number != 0 && slot.startSector == startSector) {
            return slot;
        }
    }
    return std::nullopt;
}

kvph::Bytes layoutBytes(const Disk& disk) {
    const std::vector<LayoutSlot> slots = layoutSlots(disk);
    kvph::Bytes bytes(win::layout::kHeaderSize + slots.size() * win::layout::kEntrySize, 0);
    ByteWriter out(bytes);
    out.u32(win::layout::kPartitionStyle, styleOf(disk));
    out.u32(win::layout::kPartitionCount, static_cast<std::uint32_t>(slots.size()));
    const std::uint64_t sectorBytes = disk.geometry.bytesPerSector;
    if (disk.style == PartitionStyle::Mbr) {
        out.u32(win::layout::kMbrSignature, disk.mbr.signature);
    } else if (disk.style == PartitionStyle::Gpt) {
        out.guid(win::layout::kGptDiskId, disk.gpt.diskGuid);
        out.u64(win::layout::kGptStartingUsableOffset, disk.gpt.firstUsable * sectorBytes);
        const std::uint64_t usableSectors =
            disk.gpt.lastUsable >= disk.gpt.firstUsable ? disk.gpt.lastUsable - disk.gpt.firstUsable + 1 : 0;
        out.u64(win::layout::kGptUsableLength, usableSectors * sectorBytes);
        out.u32(win::layout::kGptMaxPartitionCount, disk.gpt.maxEntries);
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
        writeEntry(out, win::layout::kHeaderSize + i * win::layout::kEntrySize, disk, slots[i]);
    }
    return bytes;
}

kvph::Bytes geometryBytes(const Disk& disk) {
    namespace g = win::geometry;
    kvph::Bytes bytes(g::kSize + g::kPartitionInfoBytes, 0);
    ByteWriter out(bytes);
    const Geometry& geometry = disk.geometry;
    const std::uint64_t cylinderBytes = static_cast<std::uint64_t>(geometry.bytesPerSector) *
                                        geometry.sectorsPerTrack * geometry.tracksPerCylinder;
    out.u64(g::kCylinders, cylinderBytes == 0 ? 0 : disk.sizeBytes / cylinderBytes);
    out.u32(g::kMediaType, disk.driveType == DriveType::Removable ? kRemovableMedia : kFixedMedia);
    out.u32(g::kTracksPerCylinder, geometry.tracksPerCylinder);
    out.u32(g::kSectorsPerTrack, geometry.sectorsPerTrack);
    out.u32(g::kBytesPerSector, geometry.bytesPerSector);
    out.u64(g::kDiskSize, disk.sizeBytes);
    out.u32(g::kPartitionInfoSize, g::kPartitionInfoBytes);
    out.u32(g::kPartitionStyle, styleOf(disk));
    if (disk.style == PartitionStyle::Mbr) {
        out.u32(g::kMbrSignature, disk.mbr.signature);
    } else if (disk.style == PartitionStyle::Gpt) {
        out.guid(g::kGptDiskId, disk.gpt.diskGuid);
    }
    return bytes;
}

}  // namespace sim
