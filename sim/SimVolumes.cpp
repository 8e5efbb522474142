#include <algorithm>
#include <cwctype>

#include "DiskLayout.h"
#include "Machine.h"
#include "SimText.h"
#include "platform/WinConstants.h"

namespace sim {

namespace win = kvph::win;

namespace {

constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorUnrecognizedVolume = 1005;
constexpr std::int32_t kStatusAccessDenied = static_cast<std::int32_t>(0xC0000022u);
constexpr std::int32_t kStatusUnsuccessful = static_cast<std::int32_t>(0xC0000001u);

// Flags a volume of these file systems reports besides FILE_READ_ONLY_VOLUME: case-sensitive search,
// case-preserved and Unicode names, and for NTFS ACLs, compression, quotas and the rest.
constexpr std::uint32_t kNtfsFlags = 0x00C706FFu;
constexpr std::uint32_t kFatFlags = 0x00020206u;

std::uint32_t fileSystemFlags(const Volume& volume) {
    const std::uint32_t base = text::equalsNoCase(*volume.fileSystem, L"NTFS") ? kNtfsFlags : kFatFlags;
    return base | (volume.readOnly ? win::FILE_READ_ONLY_VOLUME_ : 0);
}

// The drive letter of "X:\" (or "X:" where the call allows it), upper-cased; 0 when the path is no root.
wchar_t rootLetter(const std::wstring& path, bool backslashRequired) {
    const bool letterAndColon = path.size() >= 2 && std::iswalpha(path[0]) && path[1] == L':';
    const bool rootOnly = path.size() == 3 ? path[2] == L'\\' : path.size() == 2 && !backslashRequired;
    return letterAndColon && rootOnly ? text::upper(path[0]) : 0;
}

std::uint32_t driveTypeOf(DriveType type) {
    switch (type) {
        case DriveType::Fixed:
            return win::DRIVE_FIXED_;
        case DriveType::Removable:
            return win::DRIVE_REMOVABLE_;
        case DriveType::Cdrom:
            return win::DRIVE_CDROM_;
        case DriveType::Ramdisk:
            return win::DRIVE_RAMDISK_;
        case DriveType::Unknown:
            break;
    }
    return win::DRIVE_UNKNOWN_;
}

std::int32_t statusFor(std::uint32_t error) {
    if (error == win::ERROR_ACCESS_DENIED_) {
        return kStatusAccessDenied;
    }
    if (error == win::ERROR_FILE_NOT_FOUND_) {
        return win::STATUS_OBJECT_NAME_NOT_FOUND_;
    }
    return kStatusUnsuccessful;
}

std::wstring harddiskVolume(std::uint32_t number) {
    return L"\\Device\\HarddiskVolume" + std::to_wstring(number);
}

// Parses "\Device\Harddisk<N>\Partition<M>" into N and M.
bool parsePartitionLink(const std::wstring& name, bool caseInsensitive, int& disk, std::uint32_t& partition) {
    const std::wstring subject = caseInsensitive ? text::upper(name) : name;
    const std::wstring harddisk = caseInsensitive ? L"\\DEVICE\\HARDDISK" : L"\\Device\\Harddisk";
    const std::wstring partitionWord = caseInsensitive ? L"\\PARTITION" : L"\\Partition";
    if (subject.rfind(harddisk, 0) != 0) {
        return false;
    }
    const std::size_t split = subject.find(partitionWord, harddisk.size());
    if (split == std::wstring::npos) {
        return false;
    }
    const std::wstring diskDigits = subject.substr(harddisk.size(), split - harddisk.size());
    const std::wstring partitionDigits = subject.substr(split + partitionWord.size());
    const auto decimal = [](const std::wstring& digits) {
        return !digits.empty() && digits.size() <= 9 && (digits.size() == 1 || digits[0] != L'0') &&
               std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    };
    if (!decimal(diskDigits) || !decimal(partitionDigits)) {
        return false;
    }
    disk = std::stoi(diskDigits);
    partition = static_cast<std::uint32_t>(std::stoul(partitionDigits));
    return true;
}

}  // namespace

std::optional<Machine::MountedVolume> Machine::volumeByLetter(wchar_t letter) const {
    const wchar_t wanted = text::upper(letter);
    for (const Disk* disk : allDisks()) {
        for (const Volume& volume : disk->volumes) {
            if (volume.letter && text::upper(*volume.letter) == wanted) {
                return MountedVolume{disk, &volume};
            }
        }
    }
    return std::nullopt;
}

kvph::VolumeInformation Machine::getVolumeInformationW(const std::wstring& rootPath) {
    if (auto error = enter("getVolumeInformationW", rootPath)) {
        return {false, {}, {}, 0, *error};
    }
    const wchar_t letter = rootLetter(rootPath, true);
    if (letter == 0) {
        return {false, {}, {}, 0, kErrorInvalidName};
    }
    const auto mounted = volumeByLetter(letter);
    if (!mounted) {
        return {false, {}, {}, 0, rootExists(letter) ? win::ERROR_NOT_READY_ : win::ERROR_PATH_NOT_FOUND_};
    }
    const Volume& volume = *mounted->volume;
    if (!volume.fileSystem) {
        return {false, {}, {}, 0, kErrorUnrecognizedVolume};
    }
    return {true, volume.label, *volume.fileSystem, fileSystemFlags(volume), 0};
}

kvph::DiskFreeSpace Machine::getDiskFreeSpaceExW(const std::wstring& directory) {
    kvph::DiskFreeSpace result;
    if (auto error = enter("getDiskFreeSpaceExW", directory)) {
        result.error = *error;
        return result;
    }
    const bool onDrive = directory.size() >= 2 && std::iswalpha(directory[0]) && directory[1] == L':';
    const auto mounted = onDrive ? volumeByLetter(directory[0]) : std::nullopt;
    if (!mounted) {
        result.error = win::ERROR_PATH_NOT_FOUND_;
        return result;
    }
    if (!mounted->volume->fileSystem) {
        result.error = kErrorUnrecognizedVolume;
        return result;
    }
    const auto partition = partitionByStart(*mounted->disk, mounted->volume->start);
    const std::uint64_t totalBytes =
        partition ? partition->sectors * mounted->disk->geometry.bytesPerSector : 0;
    result.ok = true;
    result.freeBytesAvailableToCaller = mounted->volume->freeBytes;
    result.totalFreeBytes = mounted->volume->freeBytes;
    result.totalBytes = std::max(totalBytes, mounted->volume->freeBytes);
    return result;
}

std::uint32_t Machine::getDriveTypeW(const std::wstring& rootPath) {
    if (enter("getDriveTypeW", rootPath)) {
        return win::DRIVE_UNKNOWN_;
    }
    const std::wstring drivePrefix = L"\\\\.\\PHYSICALDRIVE";
    if (text::startsWithNoCase(rootPath, drivePrefix) && rootPath.size() > drivePrefix.size() + 1 &&
        rootPath.back() == L'\\') {
        const std::wstring digits =
            rootPath.substr(drivePrefix.size(), rootPath.size() - drivePrefix.size() - 1);
        const bool decimal =
            digits.size() <= 2 && (digits.size() == 1 || digits[0] != L'0') &&
            std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
        const Disk* disk = decimal ? diskByNumber(std::stoi(digits)) : nullptr;
        return disk != nullptr ? driveTypeOf(disk->driveType) : win::DRIVE_NO_ROOT_DIR_;
    }
    const wchar_t letter = rootLetter(rootPath, false);
    if (letter == 0) {
        return win::DRIVE_NO_ROOT_DIR_;
    }
    if (const auto mounted = volumeByLetter(letter)) {
        return driveTypeOf(mounted->disk->driveType);
    }
    return rootExists(letter) ? win::DRIVE_REMOTE_ : win::DRIVE_NO_ROOT_DIR_;
}

kvph::DriveStrings Machine::getLogicalDriveStringsW(std::uint32_t bufferUnits) {
    kvph::DriveStrings result;
    if (auto error = enter("getLogicalDriveStringsW")) {
        result.error = *error;
        return result;
    }
    std::wstring strings;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if (rootExists(letter)) {
            strings += letter;
            strings += L":\\";
            strings += L'\0';
        }
    }
    if (strings.size() + 1 > bufferUnits) {
        result.result = static_cast<std::uint32_t>(strings.size() + 1);
        return result;
    }
    result.result = static_cast<std::uint32_t>(strings.size());
    result.strings = strings + L'\0';
    return result;
}

std::optional<std::wstring> Machine::queryDosDeviceW(const std::wstring& deviceName,
                                                     std::uint32_t bufferUnits) {
    if (enter("queryDosDeviceW", deviceName)) {
        return std::nullopt;
    }
    const wchar_t letter = deviceName.size() == 2 ? rootLetter(deviceName, false) : 0;
    if (letter == 0) {
        return std::nullopt;
    }
    std::wstring device;
    if (const auto mounted = volumeByLetter(letter)) {
        std::uint32_t before = 0;
        for (const Disk* disk : allDisks()) {
            if (disk == mounted->disk) {
                break;
            }
            before += numberedPartitionCount(*disk);
        }
        const auto partition = partitionByStart(*mounted->disk, mounted->volume->start);
        // A volume on no partition of the table still has a device, one that no partition links to.
        device = partition ? harddiskVolume(before + partition->number)
                           : L"\\Device\\HarddiskVolumeNoPartition" + std::wstring(1, letter);
    } else if (rootExists(letter)) {
        device = L"\\Device\\Mup\\;" + std::wstring(1, letter) + L":";
    } else {
        return std::nullopt;
    }
    // The device name and the two terminators of the list must fit.
    if (text::utf16Length(device) + 2 > bufferUnits) {
        return std::nullopt;
    }
    return device;
}

bool Machine::loadSymbolicLinkCalls() {
    if (enter("loadSymbolicLinkCalls")) {
        return false;
    }
    symbolicLinkCallsLoaded_ = true;
    return true;
}

kvph::NtHandleResult Machine::ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t,
                                                       std::uint32_t attributes) {
    if (auto error = enter("ntOpenSymbolicLinkObject", name)) {
        return {statusFor(*error), kvph::kNullHandle};
    }
    int diskNumber = 0;
    std::uint32_t partitionNumber = 0;
    const bool caseInsensitive = (attributes & win::OBJ_CASE_INSENSITIVE_) != 0;
    if (!parsePartitionLink(name, caseInsensitive, diskNumber, partitionNumber)) {
        return {win::STATUS_OBJECT_NAME_NOT_FOUND_, kvph::kNullHandle};
    }
    std::uint32_t before = 0;
    for (const Disk* disk : allDisks()) {
        if (disk->number != diskNumber) {
            before += numberedPartitionCount(*disk);
            continue;
        }
        // Partition0 stands for the whole disk.
        if (partitionNumber == 0) {
            const std::wstring n = std::to_wstring(diskNumber);
            return {win::STATUS_SUCCESS_, addHandle(OpenLink{L"\\Device\\Harddisk" + n + L"\\DR" + n})};
        }
        if (partitionNumber > numberedPartitionCount(*disk)) {
            break;
        }
        return {win::STATUS_SUCCESS_, addHandle(OpenLink{harddiskVolume(before + partitionNumber)})};
    }
    return {win::STATUS_OBJECT_NAME_NOT_FOUND_, kvph::kNullHandle};
}

kvph::NtTextResult Machine::ntQuerySymbolicLinkObject(kvph::Handle link, std::uint16_t maximumBytes) {
    if (auto error = enter("ntQuerySymbolicLinkObject")) {
        return {statusFor(*error), {}};
    }
    OpenObject* object = findHandle(link);
    const OpenLink* open = object != nullptr ? std::get_if<OpenLink>(object) : nullptr;
    if (open == nullptr) {
        return {win::STATUS_INVALID_HANDLE_, {}};
    }
    if (2 * text::utf16Length(open->target) > maximumBytes) {
        return {win::STATUS_BUFFER_TOO_SMALL_, {}};
    }
    return {win::STATUS_SUCCESS_, open->target};
}

std::int32_t Machine::ntClose(kvph::Handle handle) {
    if (auto error = enter("ntClose")) {
        return statusFor(*error);
    }
    return handles_.erase(handle) == 1 ? win::STATUS_SUCCESS_ : win::STATUS_INVALID_HANDLE_;
}

}  // namespace sim
