#include "sim/machine/DiskImage.h"

#include <fstream>
#include <set>

#include "per/ByteReader.h"
#include "sim/machine/DiskLayout.h"

namespace sim {

namespace {

constexpr std::uint32_t kMinSectorBytes = 512;
constexpr std::uint32_t kMaxSectorBytes = 4096;
constexpr std::size_t kBootSignatureOffset = 510;
constexpr std::uint16_t kBootSignature = 0xAA55;
constexpr std::size_t kDiskSignatureOffset = 440;
constexpr std::size_t kSlotTableOffset = 446;
constexpr std::size_t kSlotBytes = 16;
constexpr std::uint8_t kProtectiveType = 0xEE;
constexpr std::size_t kMaxBootRecords = 1024;  // a chain longer than this is taken as looping
constexpr char kGptSignature[] = "EFI PART";
constexpr std::uint32_t kMaxGptEntries = 4096;
constexpr std::uint32_t kMinGptEntryBytes = 128;
constexpr std::size_t kGptNameOffset = 56;
constexpr std::size_t kGptNameUnits = 36;

class Image {
public:
    explicit Image(const std::string& path) : file_(path, std::ios::binary) {
        if (file_) {
            file_.seekg(0, std::ios::end);
            size_ = static_cast<std::uint64_t>(file_.tellg());
        }
    }
    bool open() const { return static_cast<bool>(file_); }
    std::uint64_t size() const { return size_; }

    // `count` bytes from `offset`; what lies past the end of the image reads as zero.
    std::vector<std::uint8_t> read(std::uint64_t offset, std::size_t count) {
        std::vector<std::uint8_t> bytes(count, 0);
        if (offset >= size_) {
            return bytes;
        }
        file_.clear();
        file_.seekg(static_cast<std::streamoff>(offset));
        file_.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
        return bytes;
    }

private:
    std::ifstream file_;
    std::uint64_t size_ = 0;
};

MbrSlot readSlot(const PER::ByteReader& sector, std::size_t index, std::uint64_t base) {
    const std::size_t at = kSlotTableOffset + index * kSlotBytes;
    MbrSlot slot;
    slot.type = sector.u8(at + 4);
    if (slot.type == 0) {
        return slot;
    }
    slot.boot = (sector.u8(at) & 0x80) != 0;
    slot.start = base + sector.u32(at + 8);
    slot.sectors = sector.u32(at + 12);
    return slot;
}

bool hasBootSignature(const PER::ByteReader& sector) {
    return sector.u16(kBootSignatureOffset) == kBootSignature;
}

// Follows the chain from the first extended boot record: logical drives count from their own record,
// links from the start of the extended partition. The chain ends at a record without a link or without
// a boot signature.
void readChain(Image& image, std::uint32_t sectorBytes, std::uint64_t extendedStart, MbrTable& table) {
    std::set<std::uint64_t> visited;
    std::uint64_t sectorNumber = extendedStart;
    while (visited.insert(sectorNumber).second && visited.size() <= kMaxBootRecords) {
        const std::vector<std::uint8_t> bytes = image.read(sectorNumber * sectorBytes, sectorBytes);
        const PER::ByteReader sector(bytes);
        if (!hasBootSignature(sector)) {
            return;
        }
        MbrTable::BootRecord record;
        record.sector = sectorNumber;
        std::optional<std::uint64_t> next;
        for (std::size_t i = 0; i < record.slots.size(); ++i) {
            const std::uint8_t type = sector.u8(kSlotTableOffset + i * kSlotBytes + 4);
            record.slots[i] = readSlot(sector, i, isContainerType(type) ? extendedStart : sectorNumber);
            if (isContainerType(type) && !next) {
                next = record.slots[i].start;
            }
        }
        table.chain.push_back(record);
        if (!next) {
            return;
        }
        sectorNumber = *next;
    }
}

void readMbr(Image& image, std::uint32_t sectorBytes, const PER::ByteReader& sector, Disk& disk) {
    disk.style = PartitionStyle::Mbr;
    disk.mbr = MbrTable{};
    disk.mbr.signature = sector.u32(kDiskSignatureOffset);
    for (std::size_t i = 0; i < disk.mbr.primary.size(); ++i) {
        disk.mbr.primary[i] = readSlot(sector, i, 0);
    }
    for (const MbrSlot& slot : disk.mbr.primary) {
        if (isContainerType(slot.type)) {
            readChain(image, sectorBytes, slot.start, disk.mbr);
            break;
        }
    }
}

std::wstring gptName(const PER::ByteReader& entry) {
    std::wstring name;
    for (std::size_t i = 0; i < kGptNameUnits; ++i) {
        const std::uint16_t unit = entry.u16(kGptNameOffset + 2 * i);
        if (unit == 0) {
            break;
        }
        name += static_cast<wchar_t>(unit);
    }
    return name;
}

bool readGpt(Image& image, std::uint32_t sectorBytes, Disk& disk) {
    const std::vector<std::uint8_t> headerBytes = image.read(sectorBytes, sectorBytes);
    const PER::ByteReader header(headerBytes);
    if (std::string(headerBytes.begin(), headerBytes.begin() + 8) != kGptSignature) {
        return false;
    }
    const std::uint64_t entriesLba = header.u64(72);
    const std::uint32_t entryCount = header.u32(80);
    const std::uint32_t entryBytes = header.u32(84);
    if (entryCount > kMaxGptEntries || entryBytes < kMinGptEntryBytes || entryBytes > sectorBytes) {
        return false;
    }
    disk.style = PartitionStyle::Gpt;
    disk.gpt = GptTable{};
    disk.gpt.firstUsable = header.u64(40);
    disk.gpt.lastUsable = header.u64(48);
    disk.gpt.diskGuid = header.bytes<16>(56);
    disk.gpt.maxEntries = entryCount;
    const std::vector<std::uint8_t> table =
        image.read(entriesLba * sectorBytes, static_cast<std::size_t>(entryCount) * entryBytes);
    for (std::uint32_t i = 0; i < entryCount; ++i) {
        const PER::ByteReader entry(table.data() + static_cast<std::size_t>(i) * entryBytes, entryBytes);
        GptEntry parsed;
        parsed.type = entry.bytes<16>(0);
        if (parsed.type == Guid{}) {
            continue;
        }
        parsed.id = entry.bytes<16>(16);
        parsed.start = entry.u64(32);
        const std::uint64_t last = entry.u64(40);
        parsed.sectors = last >= parsed.start ? last - parsed.start + 1 : 0;
        parsed.attributes = entry.u64(48);
        parsed.name = gptName(entry);
        disk.gpt.entries.push_back(parsed);
    }
    return true;
}

}  // namespace

bool readDiskImage(const std::string& hostPath, Disk& disk, std::string& error) {
    Image image(hostPath);
    if (!image.open()) {
        error = "cannot read the disk image " + hostPath;
        return false;
    }
    const std::uint32_t sectorBytes = disk.geometry.bytesPerSector;
    // Every read of the image is sized by the sector, so an absurd sector size must not reach them.
    if (sectorBytes < kMinSectorBytes || sectorBytes > kMaxSectorBytes) {
        error = "the disk image " + hostPath + " needs sectors of 512 to 4096 bytes";
        return false;
    }
    disk.sizeBytes = image.size();
    const std::vector<std::uint8_t> bootBytes = image.read(0, sectorBytes);
    const PER::ByteReader boot(bootBytes);
    disk.style = PartitionStyle::Raw;
    if (!hasBootSignature(boot)) {
        return true;
    }
    const bool protective = readSlot(boot, 0, 0).type == kProtectiveType;
    if (protective && readGpt(image, sectorBytes, disk)) {
        return true;
    }
    readMbr(image, sectorBytes, boot, disk);
    return true;
}

}  // namespace sim
