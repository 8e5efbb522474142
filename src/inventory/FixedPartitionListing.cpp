// PH_ListFixedPartition: rebuilds Partition.ini with one section per lettered volume on the machine's
// fixed and removable physical drives, each with the facts of the drive that holds it.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "KvPartitionHelper.h"
#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/Operations.h"
#include "frame/ProfileReplacement.h"
#include "frame/Text.h"
#include "frame/UniqueHandle.h"
#include "inventory/PartitionInventory.h"
#include "per/AtaIdentify.h"
#include "per/ByteReader.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph::inventory {

namespace {

namespace storage = win::storage;
namespace ata = win::ata;

constexpr wchar_t kDriveRootFormat[] = L"\\\\.\\PHYSICALDRIVE%d\\";
constexpr wchar_t kPhysicalDriveFormat[] = L"\\\\.\\PhysicalDrive%d";
constexpr std::uint16_t kNonRotatingMedia = 1;
constexpr int kMegabyteShift = 20;

constexpr wchar_t kVolumeReportFormat[] =
    L"(KvPartitionHelper)\r\nLetter = %ls \r\nFile System = %ls \r\nLabel Name : %ls \r\nDisk Type = %ls \r\n"
    L"Partition ID = %ls \r\nPartition Type = %ls \r\nTotal Size = %ls MB \r\nFree Size = %ls MB \r\n"
    L"Disk-Partition = %ls\r\nSSD = %ls\r\nBusType = %ls\r\nDrive Type = %ls\r\nReadOnlyVolume = %ls\r\n\r\n";

// What every section of one drive says about the drive.
struct DriveFacts {
    int number = 0;
    std::wstring driveType;
    std::wstring diskType;
    std::wstring solidState;
    std::wstring busType;
};

// The values of one volume section, in the order they are written.
struct VolumeSection {
    std::wstring values[std::size(kVolumeKeys)];
};

// Removable drives are not asked about their bus; a fixed drive on USB is told apart from the others.
std::wstring driveTypeText(std::uint32_t systemDriveType, std::uint32_t busType) {
    if (systemDriveType == win::DRIVE_REMOVABLE_) {
        return L"Removable";
    }
    return busType == storage::BusTypeUsb ? L"Fixed_USB" : L"Fixed";
}

std::wstring diskTypeText(int partitionStyle) {
    switch (partitionStyle) {
        case win::PARTITION_STYLE_MBR_:
            return L"MBR";
        case win::PARTITION_STYLE_GPT_:
            return L"GPT";
        case win::PARTITION_STYLE_RAW_:
            return L"RAW";
        default:
            return L"Unknown";
    }
}

struct IdentifyOutcome {
    bool answered = false;
    std::uint16_t rotationRate = 0;
    std::uint32_t error = 0;
};

// IDENTIFY DEVICE through ATA pass-through, on a read-write handle of its own: the drive's own handle
// need not allow writing, which the pass-through requires.
IdentifyOutcome identifyDevice(int driveNumber) {
    const std::wstring path = formatBounded(kTextUnits, kPhysicalDriveFormat, driveNumber);
    const HandleResult opened =
        platform().createFileW(path, win::GENERIC_READ_ | win::GENERIC_WRITE_,
                               win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_, win::OPEN_EXISTING_, 0);
    const UniqueHandle drive(opened.handle);
    if (!drive.valid()) {
        return {false, 0, opened.error};
    }
    const Bytes request = PER::IdentifyDeviceRequest();
    const IoResult answer = platform().deviceIoControl(drive.get(), win::IOCTL_ATA_PASS_THROUGH_, request,
                                                       static_cast<std::uint32_t>(request.size()));
    if (!answer.ok) {
        return {false, 0, answer.error};
    }
    return {true, PER::RotationRateOf(answer.output), 0};
}

std::wstring IsSolidStateDrive(int driveNumber, std::uint32_t busType) {
    const IdentifyOutcome identify = identifyDevice(driveNumber);
    if (identify.answered) {
        return identify.rotationRate == kNonRotatingMedia ? L"1" : L"0";
    }
    logLine(formatBounded(kWsprintfUnits,
                          L"DeviceIoControl IOCTL_ATA_PASS_THROUGH failed with error code: %d\n",
                          static_cast<int>(identify.error)));
    if (busType == storage::BusTypeNvme || busType == storage::BusTypeMmc) {
        logLine(L"No NominalMediaRotationRate but it is NVMe/EMMC device. Judge as SSD");
        return L"1";
    }
    return L"0";
}

// The facts of a drive, or nullopt for a drive that is neither removable nor fixed.
std::optional<DriveFacts> classifyDrive(const PER::DriveDevice& device, const PER::DriveData& data) {
    const auto driveNumber = static_cast<int>(device.GetDriveNumber());
    const std::uint32_t systemDriveType =
        platform().getDriveTypeW(formatBounded(kTextUnits, kDriveRootFormat, driveNumber));
    if (systemDriveType != win::DRIVE_REMOVABLE_ && systemDriveType != win::DRIVE_FIXED_) {
        return std::nullopt;
    }
    // The device's own handle: a disk without a partition table keeps none in its partition data.
    const std::uint32_t busType = QueryBusType(device.GetFileHandle());
    DriveFacts facts;
    facts.number = driveNumber;
    facts.driveType = driveTypeText(systemDriveType, busType);
    facts.diskType = diskTypeText(data.GetPartitionStyle());
    facts.solidState = IsSolidStateDrive(driveNumber, busType);
    facts.busType = std::to_wstring(busType);
    return facts;
}

bool hasDriveLetter(const PER::PartitionRecord& record) {
    return !record.letter.empty() && !equalsNoCase(record.letter, L":\\");
}

std::optional<std::wstring> guidTextAt(const PER::PartitionRecord& record, std::size_t offset) {
    std::uint8_t guid[16] = {};
    for (std::size_t i = 0; i < 16; ++i) {
        guid[i] = record.info[offset + i];
    }
    return GuidToText(guid);
}

std::wstring freeMegabytesOn(const std::wstring& root) {
    const DiskFreeSpace space = platform().getDiskFreeSpaceExW(root);
    if (!space.ok) {
        return L"0";
    }
    return std::to_wstring(static_cast<std::int64_t>(space.freeBytesAvailableToCaller >> kMegabyteShift));
}

std::wstring withoutBackslashes(std::wstring text) {
    text.erase(std::remove(text.begin(), text.end(), L'\\'), text.end());
    return text;
}

// nullopt when the partition's GUIDs cannot be put into words, which abandons the listing.
std::optional<VolumeSection> describeVolume(const PER::PartitionRecord& record, std::size_t position,
                                            const DriveFacts& drive) {
    const std::optional<std::wstring> partitionId = guidTextAt(record, win::partition::kGptPartitionId);
    if (!partitionId) {
        return std::nullopt;
    }
    const std::optional<std::wstring> partitionType = guidTextAt(record, win::partition::kGptPartitionType);
    if (!partitionType) {
        return std::nullopt;
    }
    const auto totalMegabytes = static_cast<std::int32_t>(static_cast<std::uint32_t>(record.sizeMB));
    return VolumeSection{{withoutBackslashes(record.letter), record.fileSystem, record.label, drive.diskType,
                          *partitionId, *partitionType, std::to_wstring(totalMegabytes),
                          freeMegabytesOn(record.letter),
                          formatBounded(kTextUnits, L"%d,%d", drive.number, static_cast<int>(position + 1)),
                          drive.solidState, drive.busType, drive.driveType,
                          formatBounded(kTextUnits, L"0x%08x", static_cast<unsigned>(record.readOnly))}};
}

void logVolume(const VolumeSection& volume) {
    const auto& v = volume.values;
    logLine(formatBounded(kWideLogUnits, kVolumeReportFormat, v[0].c_str(), v[1].c_str(), v[2].c_str(),
                          v[3].c_str(), v[4].c_str(), v[5].c_str(), v[6].c_str(), v[7].c_str(), v[8].c_str(),
                          v[9].c_str(), v[10].c_str(), v[11].c_str(), v[12].c_str()));
}

// A key that cannot be written is left out of the file, which its readers then take as its default.
void writeVolume(ProfileReplacement& inventory, int sectionIndex, const VolumeSection& volume) {
    const std::wstring section = std::to_wstring(sectionIndex);
    for (std::size_t key = 0; key < std::size(kVolumeKeys); ++key) {
        inventory.write(section, kVolumeKeys[key], volume.values[key]);
    }
}

// Lists the lettered volumes of one drive; false when the listing has to be abandoned.
bool listDriveVolumes(ProfileReplacement& inventory, const PER::DriveData& data, const DriveFacts& drive,
                      int& listed) {
    const std::size_t count = data.GetPartitionCount();
    for (std::size_t position = 0; position < count; ++position) {
        const PER::PartitionRecord* record = data.GetPartition(position);
        if (record == nullptr || !hasDriveLetter(*record)) {
            continue;
        }
        const std::optional<VolumeSection> volume = describeVolume(*record, position, drive);
        if (!volume) {
            return false;
        }
        logVolume(*volume);
        writeVolume(inventory, listed, *volume);
        ++listed;
    }
    return true;
}

}  // namespace

std::uint32_t QueryBusType(Handle device) {
    const Bytes query(storage::kQuerySize, 0);  // StorageDeviceProperty, PropertyStandardQuery
    const IoResult answer = platform().deviceIoControl(device, win::IOCTL_STORAGE_QUERY_PROPERTY_, query,
                                                       storage::kDescriptorFixedSize);
    const PER::ByteReader descriptor(answer.output);
    if (!answer.ok || answer.bytesReturned < storage::kDescriptorBusType + 4) {
        return kBusTypeUnknown;
    }
    return descriptor.u32(storage::kDescriptorBusType);
}

}  // namespace kvph::inventory

namespace kvph {

int ListFixedPartition() {
    using namespace inventory;
    const std::wstring iniPath = PartitionIniPath();
    ProfileReplacement inventory(iniPath);
    PER::DriveManagerLease lease;
    PER::DriveManager& manager = lease.manager();
    int listed = 0;
    const std::size_t driveCount = manager.GetDriveCount();
    for (std::size_t position = 0; position < driveCount; ++position) {
        const PER::DriveDevice* device = manager.GetDrive(position);
        const PER::DriveData* data = device != nullptr ? device->GetDriveData() : nullptr;
        if (data == nullptr) {
            continue;
        }
        const std::optional<DriveFacts> drive = classifyDrive(*device, *data);
        if (drive && !listDriveVolumes(inventory, *data, *drive, listed)) {
            // No inventory rather than one that no longer describes the machine, until the next listing.
            DeleteAnyFile(iniPath);
            return 0;
        }
    }
    inventory.write(kMainSection, kCountKey, std::to_wstring(listed));
    if (!inventory.commit(win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_)) {
        DeleteAnyFile(iniPath);
    }
    return 1;
}

}  // namespace kvph
