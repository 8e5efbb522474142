#include "kvph/machine/MachineCapture.h"

#include <array>
#include <cwctype>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "frame/Folders.h"
#include "frame/UniqueHandle.h"
#include "frame/Utf8.h"
#include "lifecycle/AutoRunSuppression.h"
#include "per/AtaIdentify.h"
#include "per/ByteReader.h"
#include "per/DriveData.h"
#include "per/DriveLayout.h"
#include "per/DriveLetterMap.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph::tool {
namespace {

namespace win = kvph::win;
using json = nlohmann::ordered_json;

constexpr std::uint32_t kGeometryBytes = win::geometry::kSize + win::geometry::kPartitionInfoBytes;
constexpr std::uint32_t kDriveStringsUnits = 105;  // 26 roots "X:\" with terminators, and the last one
constexpr std::uint32_t kPathUnits = 260;
constexpr std::size_t kMbrPrimarySlots = 4;
constexpr std::size_t kBootRecordSlots =
    4;  // each extended boot record: the logical drive, the link, 2 unused
constexpr std::uint8_t kExtendedType = 0x05;
constexpr std::uint8_t kExtendedLbaType = 0x0F;

std::wstring physicalDrivePath(std::uint32_t number) {
    return L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
}

const char* driveTypeName(std::uint32_t systemDriveType) {
    switch (systemDriveType) {
        case win::DRIVE_FIXED_:
            return "fixed";
        case win::DRIVE_REMOVABLE_:
            return "removable";
        case win::DRIVE_CDROM_:
            return "cdrom";
        case win::DRIVE_RAMDISK_:
            return "ramdisk";
        default:
            return "unknown";
    }
}

std::string hexByte(std::uint8_t value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[value >> 4], digits[value & 0xF]};
}

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" from a GUID in memory order (first three fields little-endian).
std::string guidText(const PER::GuidBytes& g) {
    static const int order[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
    std::string text;
    for (int i : order) {
        text += i < 0 ? "-" : hexByte(g[static_cast<std::size_t>(i)]);
    }
    return text;
}

bool isExtended(std::uint8_t type) {
    return type == kExtendedType || type == kExtendedLbaType;
}

// The library's own partition-to-letter lookup (the partition's device link and the DOS devices of the
// drive roots), borrowed through a partition data object that reads no layout of its own.
class LetterLookup final : public PER::DriveData {
public:
    LetterLookup(std::uint32_t diskNumber, PER::DriveLetterMap& letters)
        : DriveData(diskNumber, BorrowedHandle(kNullHandle)) {
        UseLetterMap(&letters);
    }
    bool LoadLayout() override { return false; }
    std::wstring GetDiskId() const override { return {}; }
    int GetPartitionStyle() const override { return win::PARTITION_STYLE_RAW_; }
};

std::optional<std::uint32_t> busType(Handle drive) {
    const Bytes query(win::storage::kQuerySize, 0);  // StorageDeviceProperty, PropertyStandardQuery
    const IoResult answer = platform().deviceIoControl(drive, win::IOCTL_STORAGE_QUERY_PROPERTY_, query,
                                                       win::storage::kDescriptorFixedSize);
    if (!answer.ok || answer.bytesReturned < win::storage::kDescriptorBusType + 4) {
        return std::nullopt;
    }
    return PER::ByteReader(answer.output).u32(win::storage::kDescriptorBusType);
}

// IDENTIFY DEVICE word 217 through ATA pass-through on the read-only handle; nullopt when refused.
std::optional<std::uint16_t> rotationRate(Handle drive) {
    const Bytes request = PER::IdentifyDeviceRequest();
    const IoResult answer = platform().deviceIoControl(drive, win::IOCTL_ATA_PASS_THROUGH_, request,
                                                       static_cast<std::uint32_t>(request.size()));
    if (!answer.ok) {
        return std::nullopt;
    }
    return PER::RotationRateOf(answer.output);
}

std::string gptName(const PER::LayoutEntry& entry) {
    const PER::ByteReader raw(entry.raw.data(), entry.raw.size());
    std::wstring name;
    for (std::uint32_t i = 0; i < win::partition::kGptNameChars; ++i) {
        const std::uint16_t unit = raw.u16(win::partition::kGptName + 2 * i);
        if (unit == 0) {
            break;
        }
        name += static_cast<wchar_t>(unit);
    }
    return utf8::encode(name);
}

// What the disk tells about one partition, before its volume is looked up.
struct CapturedPartition {
    PER::LayoutEntry entry;
    std::uint64_t startSector = 0;
};

class DiskCapture {
public:
    DiskCapture(std::uint32_t number, Handle drive, PER::DriveLetterMap& letters)
        : number_(number), drive_(drive), lookup_(number, letters) {}

    std::optional<json> run(std::set<wchar_t>& usedLetters) {
        const IoResult geometry =
            platform().deviceIoControl(drive_, win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, kGeometryBytes);
        if (!geometry.ok) {
            return std::nullopt;
        }
        const PER::ByteReader reader(geometry.output);
        bytesPerSector_ = reader.u32(win::geometry::kBytesPerSector);
        if (bytesPerSector_ == 0) {
            return std::nullopt;
        }
        json disk;
        disk["number"] = number_;
        disk["driveType"] = driveTypeName(
            platform().getDriveTypeW(L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(number_) + L"\\"));
        const auto bus = busType(drive_);
        disk["bus"] = bus ? json(*bus) : json(nullptr);
        const auto rate = rotationRate(drive_);
        disk["rotationRate"] = rate ? json(*rate) : json(nullptr);
        disk["geometry"] = {{"bytesPerSector", bytesPerSector_},
                            {"sectorsPerTrack", reader.u32(win::geometry::kSectorsPerTrack)},
                            {"tracksPerCylinder", reader.u32(win::geometry::kTracksPerCylinder)}};
        disk["sizeBytes"] = reader.u64(win::geometry::kDiskSize);
        addTable(disk);
        disk["volumes"] = volumes(usedLetters);
        if (layoutError_ != 0) {
            disk["failures"] = {{"layoutError", layoutError_}};
        }
        return disk;
    }

private:
    std::uint64_t sectors(std::int64_t bytes) const {
        return bytes < 0 ? 0 : static_cast<std::uint64_t>(bytes) / bytesPerSector_;
    }

    void addTable(json& disk) {
        const PER::LayoutQueryResult query = PER::queryDriveLayout(drive_, PER::ShortReadPolicy::Reject);
        if (!query.layout) {
            layoutError_ = query.error;
            disk["style"] = "raw";
            return;
        }
        const PER::DriveLayout& layout = *query.layout;
        const std::uint32_t style = layout.headerU32(win::layout::kPartitionStyle);
        if (style == win::PARTITION_STYLE_MBR_) {
            disk["style"] = "mbr";
            disk["signature"] = layout.headerU32(win::layout::kMbrSignature);
            disk["partitions"] = mbrPartitions(layout);
        } else if (style == win::PARTITION_STYLE_GPT_) {
            disk["style"] = "gpt";
            disk["diskGuid"] = guidText(layout.headerGuid(win::layout::kGptDiskId));
            disk["partitions"] = gptPartitions(layout);
        } else {
            disk["style"] = "raw";
        }
    }

    json mbrSlot(const PER::LayoutEntry& entry, bool withBoot) {
        json slot = {{"start", sectors(entry.start)},
                     {"sectors", sectors(entry.length)},
                     {"type", hexByte(entry.mbrType)}};
        if (withBoot &&
            PER::ByteReader(entry.raw.data(), entry.raw.size()).u8(win::partition::kMbrBootIndicator) != 0) {
            slot["boot"] = true;
        }
        remember(entry);
        return slot;
    }

    // The four slots of the MBR in table order, then each extended boot record's logical drive in chain
    // order; the links between the records are implied by the logical drives.
    json mbrPartitions(const PER::DriveLayout& layout) {
        std::size_t used = 0;
        for (std::uint32_t i = 0; i < kMbrPrimarySlots && i < layout.partitionCount(); ++i) {
            used = layout.entry(i).mbrType != 0 ? i + 1 : used;
        }
        json list = json::array();
        bool chainTaken = false;
        for (std::uint32_t i = 0; i < used; ++i) {
            const PER::LayoutEntry entry = layout.entry(i);
            json slot = mbrSlot(entry, true);
            if (isExtended(entry.mbrType) && !chainTaken) {
                chainTaken = true;
                slot["logical"] = logicalDrives(layout);
            }
            list.push_back(slot);
        }
        return list;
    }

    json logicalDrives(const PER::DriveLayout& layout) {
        json logical = json::array();
        for (std::uint32_t record = kMbrPrimarySlots; record < layout.partitionCount();
             record += kBootRecordSlots) {
            for (std::uint32_t slot = record; slot < record + kBootRecordSlots; ++slot) {
                const PER::LayoutEntry entry = layout.entry(slot);
                if (entry.mbrType != 0 && !isExtended(entry.mbrType)) {
                    logical.push_back(mbrSlot(entry, false));
                    break;
                }
            }
        }
        return logical;
    }

    json gptPartitions(const PER::DriveLayout& layout) {
        json list = json::array();
        for (std::uint32_t i = 0; i < layout.partitionCount(); ++i) {
            const PER::LayoutEntry entry = layout.entry(i);
            const PER::ByteReader raw(entry.raw.data(), entry.raw.size());
            list.push_back({{"start", sectors(entry.start)},
                            {"sectors", sectors(entry.length)},
                            {"type", guidText(entry.gptType)},
                            {"id", guidText(raw.bytes<16>(win::partition::kGptPartitionId))},
                            {"name", gptName(entry)}});
            remember(entry);
        }
        return list;
    }

    void remember(const PER::LayoutEntry& entry) {
        if (entry.number != 0) {
            partitions_.push_back({entry, sectors(entry.start)});
        }
    }

    // The volumes that have a drive letter: only through a letter can a volume be asked about.
    json volumes(std::set<wchar_t>& usedLetters) {
        json list = json::array();
        for (const CapturedPartition& partition : partitions_) {
            wchar_t letter = 0;
            if (!lookup_.FindDriveLetter(partition.entry.number, letter) || usedLetters.count(letter) != 0) {
                continue;
            }
            usedLetters.insert(letter);
            list.push_back(volume(partition.startSector, letter));
        }
        return list;
    }

    static json volume(std::uint64_t start, wchar_t letter) {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        const VolumeInformation information = platform().getVolumeInformationW(root);
        const DiskFreeSpace space = platform().getDiskFreeSpaceExW(root);
        return {
            {"start", start},
            {"letter", std::string(1, static_cast<char>(letter))},
            {"fileSystem", information.ok ? json(utf8::encode(information.fileSystemName)) : json(nullptr)},
            {"label", utf8::encode(information.volumeName)},
            {"readOnly", information.ok && (information.fileSystemFlags & win::FILE_READ_ONLY_VOLUME_) != 0},
            {"freeBytes", space.ok ? space.totalFreeBytes : 0}};
    }

    std::uint32_t number_;
    Handle drive_;
    LetterLookup lookup_;
    std::uint32_t bytesPerSector_ = 0;
    std::uint32_t layoutError_ = 0;
    std::vector<CapturedPartition> partitions_;
};

json captureDisks(std::set<wchar_t>& usedLetters) {
    PER::DriveLetterMap letters;
    json disks = json::array();
    for (std::uint32_t number = 0; number < PER::kMaxPhysicalDrives; ++number) {
        const HandleResult opened =
            platform().createFileW(physicalDrivePath(number), win::GENERIC_READ_,
                                   win::FILE_SHARE_READ_ | win::FILE_SHARE_WRITE_, win::OPEN_EXISTING_, 0);
        const UniqueHandle drive(opened.handle);
        if (!drive.valid()) {
            continue;
        }
        if (auto disk = DiskCapture(number, drive.get(), letters).run(usedLetters)) {
            disks.push_back(std::move(*disk));
        }
    }
    return disks;
}

// Every root the system lists that is not a captured volume: network drives, optical drives and the like.
// One whose path does not exist (an empty card reader or optical drive, a mapped drive out of service)
// still holds its letter, and is written as not ready.
json otherLetters(const std::set<wchar_t>& usedLetters) {
    json letters = json::array();
    json notReady = json::array();
    for (const wchar_t letter : logicalDriveLetters()) {
        if (letter < L'A' || letter > L'Z' || usedLetters.count(letter) != 0) {
            continue;
        }
        const std::string name(1, static_cast<char>(letter));
        if (platform().pathFileExistsW(std::wstring{letter, L':'})) {
            letters.push_back(name);
        } else {
            notReady.push_back({{"letter", name}, {"ready", false}});
        }
    }
    letters.insert(letters.end(), notReady.begin(), notReady.end());
    return letters;
}

json autoRunPolicy() {
    json registry = json::array();
    const auto value = platform().regQueryDword(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue);
    if (value) {
        registry.push_back({{"key", "HKLM\\" + utf8::encode(kAutoRunKey)},
                            {"dwords", {{utf8::encode(kAutoRunValue), *value}}}});
    }
    return registry;
}

// The Windows folder is the system folder's parent.
std::optional<std::wstring> windowsDirectory() {
    auto system = platform().getSystemDirectoryW(kPathUnits);
    if (!system || system->find(L'\\') == std::wstring::npos) {
        return std::nullopt;
    }
    return system->substr(0, system->find_last_of(L'\\'));
}

// The folders of the copy, those of them that exist: the library's own folder, where it keeps its
// inventory, and the Windows folder with its system and temporary folders (where diskpart lives and a
// check makes its scratch folder). Other files and folders are not part of the copy; the library makes its
// data directory itself when it needs it.
json knownFolders(const std::wstring& libraryPath, const std::optional<std::wstring>& windows) {
    std::vector<std::wstring> candidates{PathRemoveFileSpec(libraryPath)};
    if (windows) {
        candidates.insert(candidates.end(), {*windows, *windows + L"\\System32", *windows + L"\\Temp"});
    }
    json folders = json::array();
    for (const std::wstring& folder : candidates) {
        const auto attributes = platform().getFileAttributesW(folder);
        if (folder.size() > 3 && attributes && (*attributes & win::FILE_ATTRIBUTE_DIRECTORY_) != 0) {
            folders.push_back(utf8::encode(folder));
        }
    }
    return folders;
}

}  // namespace

json captureMachine(const CaptureSettings& settings) {
    json machine;
    machine["codePage"] = settings.codePage;
    const auto windows = windowsDirectory();
    if (windows) {
        machine["windowsDirectory"] = utf8::encode(*windows);
    }
    if (const auto appData = platform().shGetSpecialFolderPathW(win::CSIDL_COMMON_APPDATA_, false)) {
        machine["commonAppData"] = utf8::encode(*appData);
    }
    machine["libraryPath"] = utf8::encode(settings.libraryPath);
    std::set<wchar_t> usedLetters;
    machine["disks"] = captureDisks(usedLetters);
    machine["letters"] = otherLetters(usedLetters);
    machine["folders"] = knownFolders(settings.libraryPath, windows);
    machine["registry"] = autoRunPolicy();
    return machine;
}

std::set<wchar_t> logicalDriveLetters() {
    const std::wstring roots = platform().getLogicalDriveStringsW(kDriveStringsUnits).strings;
    std::set<wchar_t> letters;
    for (std::size_t at = 0; at < roots.size() && roots[at] != L'\0';) {
        letters.insert(static_cast<wchar_t>(std::towupper(roots[at])));
        const std::size_t end = roots.find(L'\0', at);
        if (end == std::wstring::npos) {
            break;
        }
        at = end + 1;
    }
    return letters;
}

}  // namespace kvph::tool
