#include <algorithm>
#include <cwctype>

#include "platform/WinConstants.h"
#include "sim/machine/DiskLayout.h"
#include "sim/windows/Drives.h"
#include "sim/windows/Text.h"

namespace sim {

namespace win = kvph::win;

namespace {

constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorUnrecognizedVolume = 1005;

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

std::optional<Drives::MountedVolume> Drives::volumeByLetter(wchar_t letter) const {
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

bool Drives::rootExists(wchar_t letter) const {
    const wchar_t upperLetter = text::upper(letter);
    const bool listed = std::any_of(model_.letters.begin(), model_.letters.end(),
                                    [&](wchar_t l) { return text::upper(l) == upperLetter; });
    return listed || volumeByLetter(upperLetter).has_value();
}

bool Drives::letterAssigned(wchar_t letter) const {
    const wchar_t upperLetter = text::upper(letter);
    const auto& notReady = model_.notReadyLetters;
    return rootExists(upperLetter) || std::any_of(notReady.begin(), notReady.end(),
                                                  [&](wchar_t l) { return text::upper(l) == upperLetter; });
}

kvph::VolumeInformation Drives::getVolumeInformationW(const std::wstring& rootPath) {
    if (auto error = calls_.enter("getVolumeInformationW", rootPath)) {
        return {false, {}, {}, 0, *error};
    }
    const wchar_t letter = rootLetter(rootPath, true);
    if (letter == 0) {
        return {false, {}, {}, 0, kErrorInvalidName};
    }
    const auto mounted = volumeByLetter(letter);
    if (!mounted) {
        return {
            false, {}, {}, 0, letterAssigned(letter) ? win::ERROR_NOT_READY_ : win::ERROR_PATH_NOT_FOUND_};
    }
    const Volume& volume = *mounted->volume;
    if (!volume.fileSystem) {
        return {false, {}, {}, 0, kErrorUnrecognizedVolume};
    }
    return {true, volume.label, *volume.fileSystem, fileSystemFlags(volume), 0};
}

kvph::DiskFreeSpace Drives::getDiskFreeSpaceExW(const std::wstring& directory) {
    kvph::DiskFreeSpace result;
    if (auto error = calls_.enter("getDiskFreeSpaceExW", directory)) {
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

std::uint32_t Drives::getDriveTypeW(const std::wstring& rootPath) {
    if (calls_.enter("getDriveTypeW", rootPath)) {
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
    return letterAssigned(letter) ? win::DRIVE_REMOTE_ : win::DRIVE_NO_ROOT_DIR_;
}

kvph::DriveStrings Drives::getLogicalDriveStringsW(std::uint32_t bufferUnits) {
    kvph::DriveStrings result;
    if (auto error = calls_.enter("getLogicalDriveStringsW")) {
        result.error = *error;
        return result;
    }
    std::wstring strings;
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if (letterAssigned(letter)) {
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

kvph::DriveMask Drives::getLogicalDrives() {
    kvph::DriveMask result;
    if (auto error = calls_.enter("getLogicalDrives")) {
        result.error = *error;
        return result;
    }
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if (letterAssigned(letter)) {
            result.mask |= 1u << (letter - L'A');
        }
    }
    return result;
}

std::optional<std::wstring> Drives::queryDosDeviceW(const std::wstring& deviceName,
                                                    std::uint32_t bufferUnits) {
    if (calls_.enter("queryDosDeviceW", deviceName)) {
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
    } else if (letterAssigned(letter)) {
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

bool Drives::loadSymbolicLinkCalls() {
    if (calls_.enter("loadSymbolicLinkCalls")) {
        return false;
    }
    symbolicLinkCallsLoaded_ = true;
    return true;
}

kvph::NtHandleResult Drives::ntOpenSymbolicLinkObject(const std::wstring& name, std::uint32_t attributes) {
    if (auto error = calls_.enter("ntOpenSymbolicLinkObject", name)) {
        return {ntStatusFor(*error), kvph::kNullHandle};
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
            return {win::STATUS_SUCCESS_, handles_.add(OpenLink{L"\\Device\\Harddisk" + n + L"\\DR" + n})};
        }
        if (partitionNumber > numberedPartitionCount(*disk)) {
            break;
        }
        return {win::STATUS_SUCCESS_, handles_.add(OpenLink{harddiskVolume(before + partitionNumber)})};
    }
    return {win::STATUS_OBJECT_NAME_NOT_FOUND_, kvph::kNullHandle};
}

kvph::NtTextResult Drives::ntQuerySymbolicLinkObject(kvph::Handle link, std::uint16_t maximumBytes) {
    if (auto error = calls_.enter("ntQuerySymbolicLinkObject")) {
        return {ntStatusFor(*error), {}};
    }
    const OpenLink* open = handles_.findAs<OpenLink>(link);
    if (open == nullptr) {
        return {win::STATUS_INVALID_HANDLE_, {}};
    }
    if (2 * text::utf16Length(open->target) > maximumBytes) {
        return {win::STATUS_BUFFER_TOO_SMALL_, {}};
    }
    return {win::STATUS_SUCCESS_, open->target};
}

}  // namespace sim
