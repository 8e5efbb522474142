#include "sim/MachineBuilder.h"

#include <stdexcept>

#include "per/PartitionTypes.h"
#include "sim/machine/DiskImage.h"
#include "sim/machine/MbrChain.h"

namespace sim {

namespace {

// Unique partition ids that differ per partition and read well in a dump.
Guid partitionId(int disk, std::size_t index) {
    return PER::guidFromFields(0xA0000000u + static_cast<std::uint32_t>(disk),
                               static_cast<std::uint16_t>(index), 0x4000,
                               {0x80, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(index)});
}

}  // namespace

const Guid kEfiSystemPartitionType = PER::kEfiSystemType;
const Guid kReservedPartitionType = PER::kReservedType;
const Guid kBasicDataPartitionType = PER::kBasicDataType;
const Guid kRecoveryPartitionType = PER::kRecoveryType;

MachineBuilder& MachineBuilder::addDisk(int number, std::uint64_t sizeBytes, PartitionStyle style) {
    Disk disk;
    disk.number = number;
    disk.sizeBytes = sizeBytes;
    disk.style = style;
    if (style == PartitionStyle::Gpt) {
        disk.gpt.diskGuid = PER::guidFromFields(0xD15C0000u + static_cast<std::uint32_t>(number), 0, 0, {});
        disk.gpt.lastUsable = sizeBytes / disk.geometry.bytesPerSector - 34;
    }
    model_.disks.push_back(disk);
    onVirtualDisk_ = false;
    lastPartitionStart_.reset();
    nextPrimarySlot_ = 0;
    return *this;
}

MachineBuilder& MachineBuilder::gptDisk(int number, std::uint64_t sizeBytes) {
    return addDisk(number, sizeBytes, PartitionStyle::Gpt);
}

MachineBuilder& MachineBuilder::mbrDisk(int number, std::uint64_t sizeBytes, std::uint32_t signature) {
    addDisk(number, sizeBytes, PartitionStyle::Mbr);
    currentDisk().mbr.signature = signature;
    return *this;
}

MachineBuilder& MachineBuilder::rawDisk(int number, std::uint64_t sizeBytes) {
    return addDisk(number, sizeBytes, PartitionStyle::Raw);
}

MachineBuilder& MachineBuilder::imageDisk(int number, const std::string& hostPath) {
    addDisk(number, 0, PartitionStyle::Raw);
    std::string error;
    if (!readDiskImage(hostPath, currentDisk(), error)) {
        throw std::runtime_error(error);
    }
    currentDisk().image = hostPath;
    return *this;
}

MachineBuilder& MachineBuilder::gptPartition(const Guid& type, std::uint64_t start, std::uint64_t sectors,
                                             const std::wstring& name) {
    Disk& disk = currentDisk();
    GptEntry entry;
    entry.type = type;
    entry.id = partitionId(disk.number, disk.gpt.entries.size());
    entry.start = start;
    entry.sectors = sectors;
    entry.name = name;
    disk.gpt.entries.push_back(entry);
    lastPartitionStart_ = start;
    return *this;
}

MachineBuilder& MachineBuilder::efi(std::uint64_t start, std::uint64_t sectors) {
    return gptPartition(kEfiSystemPartitionType, start, sectors, L"EFI system partition");
}

MachineBuilder& MachineBuilder::msr(std::uint64_t start, std::uint64_t sectors) {
    return gptPartition(kReservedPartitionType, start, sectors, L"Microsoft reserved partition");
}

MachineBuilder& MachineBuilder::basicData(std::uint64_t start, std::uint64_t sectors) {
    return gptPartition(kBasicDataPartitionType, start, sectors, L"Basic data partition");
}

MachineBuilder& MachineBuilder::recovery(std::uint64_t start, std::uint64_t sectors) {
    return gptPartition(kRecoveryPartitionType, start, sectors, L"Recovery");
}

MachineBuilder& MachineBuilder::primary(std::uint64_t start, std::uint64_t sectors, std::uint8_t type,
                                        bool boot) {
    Disk& disk = currentDisk();
    if (nextPrimarySlot_ >= disk.mbr.primary.size()) {
        throw std::logic_error("an MBR has four primary slots");
    }
    disk.mbr.primary[nextPrimarySlot_++] = MbrSlot{type, boot, start, sectors};
    lastPartitionStart_ = start;
    return *this;
}

MachineBuilder& MachineBuilder::emptySlot() {
    ++nextPrimarySlot_;
    return *this;
}

MachineBuilder& MachineBuilder::extended(std::uint64_t start, std::uint64_t sectors, std::uint8_t type) {
    return primary(start, sectors, type);
}

MachineBuilder& MachineBuilder::logical(std::uint64_t start, std::uint64_t sectors, std::uint8_t type) {
    appendLogicalDrive(currentDisk().mbr, MbrSlot{type, false, start, sectors});
    lastPartitionStart_ = start;
    return *this;
}

MachineBuilder& MachineBuilder::onPartitionAt(std::uint64_t start) {
    lastPartitionStart_ = start;
    return *this;
}

MachineBuilder& MachineBuilder::addVolume(Volume volume) {
    if (!lastPartitionStart_) {
        throw std::logic_error("a volume needs a partition");
    }
    volume.start = *lastPartitionStart_;
    currentDisk().volumes.push_back(std::move(volume));
    return *this;
}

MachineBuilder& MachineBuilder::volume(wchar_t letter, const std::wstring& fileSystem,
                                       const std::wstring& label, std::uint64_t freeBytes) {
    return addVolume(Volume{0, letter, fileSystem, label, false, freeBytes});
}

MachineBuilder& MachineBuilder::volumeWithoutLetter(const std::wstring& fileSystem, const std::wstring& label,
                                                    std::uint64_t freeBytes) {
    return addVolume(Volume{0, std::nullopt, fileSystem, label, false, freeBytes});
}

MachineBuilder& MachineBuilder::unreadableVolume(std::optional<wchar_t> letter) {
    return addVolume(Volume{0, letter, std::nullopt, L"", false, 0});
}

MachineBuilder& MachineBuilder::readOnly() {
    currentDisk().volumes.back().readOnly = true;
    return *this;
}

MachineBuilder& MachineBuilder::geometry(std::uint32_t bytesPerSector, std::uint32_t sectorsPerTrack,
                                         std::uint32_t tracksPerCylinder) {
    currentDisk().geometry = Geometry{bytesPerSector, sectorsPerTrack, tracksPerCylinder};
    return *this;
}

MachineBuilder& MachineBuilder::driveType(DriveType type) {
    currentDisk().driveType = type;
    return *this;
}

MachineBuilder& MachineBuilder::bus(std::optional<std::uint32_t> busType) {
    currentDisk().bus = busType;
    return *this;
}

MachineBuilder& MachineBuilder::rotationRate(std::optional<std::uint16_t> rate) {
    currentDisk().rotationRate = rate;
    return *this;
}

MachineBuilder& MachineBuilder::failOpen() {
    currentDisk().failures.open = true;
    return *this;
}

MachineBuilder& MachineBuilder::failGeometry() {
    currentDisk().failures.geometry = true;
    return *this;
}

MachineBuilder& MachineBuilder::layoutError(std::uint32_t error) {
    currentDisk().failures.layoutError = error;
    return *this;
}

MachineBuilder& MachineBuilder::withDisk(const std::function<void(Disk&)>& change) {
    change(currentDisk());
    return *this;
}

MachineBuilder& MachineBuilder::networkLetter(wchar_t letter) {
    model_.letters.push_back(letter);
    return *this;
}

MachineBuilder& MachineBuilder::notReadyLetter(wchar_t letter) {
    model_.notReadyLetters.push_back(letter);
    return *this;
}

MachineBuilder& MachineBuilder::vhdx(const std::wstring& path, std::int64_t maximumMB, bool attached,
                                     bool readOnly) {
    constexpr std::size_t kVhdxFileBytes = 64 * 1024;
    VirtualDisk vdisk;
    vdisk.path = path;
    vdisk.maximumMB = maximumMB;
    vdisk.attached = attached;
    vdisk.readOnly = readOnly;
    vdisk.disk.style = PartitionStyle::Mbr;
    vdisk.disk.sizeBytes = static_cast<std::uint64_t>(maximumMB) * kMiB;
    vdisk.disk.mbr.signature = 0x5EED0000u + static_cast<std::uint32_t>(model_.vdisks.size());
    model_.vdisks.push_back(vdisk);
    for (std::size_t separator = path.find(L'\\', 3); separator != std::wstring::npos;
         separator = path.find(L'\\', separator + 1)) {
        const std::wstring folder = path.substr(0, separator);
        model_.folders[Machine::pathKey(folder)] = File{folder, {}, 0x10};
    }
    model_.files[Machine::pathKey(path)] = File{path, std::vector<std::uint8_t>(kVhdxFileBytes), 0x20};
    onVirtualDisk_ = true;
    lastPartitionStart_.reset();
    nextPrimarySlot_ = 0;
    return *this;
}

Disk& MachineBuilder::currentDisk() {
    if (onVirtualDisk_) {
        return model_.vdisks.back().disk;
    }
    if (model_.disks.empty()) {
        throw std::logic_error("add a disk first");
    }
    return model_.disks.back();
}

}  // namespace sim
