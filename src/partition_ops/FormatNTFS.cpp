// PH_FormatNTFS wipes a whole disk, so the choice of the disk is conservative: the disk of the volume
// with the given letter when that volume is its only partition, or else only a disk that holds no
// partition at all, and never the disk that holds the system volume.
#include <algorithm>

#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "partition_ops/DriveList.h"
#include "partition_ops/FormatDisk.h"
#include "per/VolumeLocation.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kExport[] = L"PH_FormatNTFS";

struct FormatTarget {
    std::uint32_t diskNumber = 0;
    bool gpt = false;
    std::wstring label;  // the volume's label, empty when it has none
};

bool isGpt(const PER::DriveData& data) {
    return data.GetPartitionStyle() == static_cast<int>(win::PARTITION_STYLE_GPT_);
}

// "C:\" for a system folder of "C:\Windows\System32"; empty when the platform does not say.
std::wstring systemVolumeRoot() {
    const std::wstring folder =
        platform().getSystemDirectoryW(static_cast<std::uint32_t>(kTextUnits)).value_or(L"");
    return folder.size() >= 2 && folder[1] == L':' ? folder.substr(0, 2) + L"\\" : std::wstring();
}

bool holdsVolume(const PER::DriveData& data, const std::wstring& root) {
    for (std::size_t position = 0; position < data.GetPartitionCount(); ++position) {
        const PER::PartitionRecord* record = data.GetPartition(position);
        if (record != nullptr && equalsNoCase(record->letter, root)) {
            return true;
        }
    }
    return false;
}

// A disk whose every record is unallocated space: nothing on it can be lost. A disk without records
// (unpartitioned, or whose layout could not be read) is not taken, as nothing shows it to be empty.
bool holdsNoPartition(const PER::DriveData& data) {
    bool unusedSpace = false;
    for (std::size_t position = 0; position < data.GetPartitionCount(); ++position) {
        const PER::PartitionRecord* record = data.GetPartition(position);
        if (record == nullptr || PER::IsDiskpartPartition(*record)) {
            return false;
        }
        unusedSpace = unusedSpace || equalsNoCase(record->fileSystem, L"Entry Unused");
    }
    return unusedSpace;
}

// A Microsoft reserved partition holds no data, and an extended container none of its own: its logical
// drives are records of their own.
bool holdsData(const PER::PartitionRecord& record) {
    return record.kind != PER::PartitionKind::Reserved && record.kind != PER::PartitionKind::Extended;
}

// Whether the clean would take more than the record at `ownPosition` (0-based): any other partition (a
// volume, a letterless or hidden one, EFI, recovery, an unlisted type) holds data, or may.
bool holdsOtherPartitions(const PER::DriveData& data, std::size_t ownPosition) {
    for (std::size_t position = 0; position < data.GetPartitionCount(); ++position) {
        const PER::PartitionRecord* record = data.GetPartition(position);
        if (position == ownPosition) {
            continue;
        }
        if (record == nullptr || (PER::IsDiskpartPartition(*record) && holdsData(*record))) {
            return true;
        }
    }
    return false;
}

std::wstring scriptLabelOf(const PER::PartitionRecord& record) {
    return equalsNoCase(record.label, PER::kNoLabel) ? std::wstring() : record.label;
}

// The disk of the volume with the letter, when wiping it loses nothing but that volume.
std::optional<FormatTarget> volumeDisk(const PER::DriveData& holder, const PER::VolumeLocation& location,
                                       const std::wstring& completedLetter, const std::wstring& systemRoot) {
    if (holdsVolume(holder, systemRoot)) {
        logExportFailure(kExport, L"the volume " + completedLetter +
                                      L" is on the disk of the system volume; it is not formatted.");
        return std::nullopt;
    }
    const auto ownPosition = static_cast<std::size_t>(location.position - 1);
    if (holdsOtherPartitions(holder, ownPosition)) {
        logExportFailure(
            kExport, L"the disk of " + completedLetter + L" holds other partitions; it is not formatted.");
        return std::nullopt;
    }
    const PER::PartitionRecord* record = holder.GetPartition(ownPosition);
    return FormatTarget{location.diskNumber, isGpt(holder), record != nullptr ? scriptLabelOf(*record) : L""};
}

std::optional<FormatTarget> chooseDisk(const std::wstring& completedLetter) {
    const std::wstring systemRoot = systemVolumeRoot();
    if (systemRoot.empty()) {
        logExportFailure(kExport, L"the system folder is unknown, so no disk is safe to format.");
        return std::nullopt;
    }
    PER::DriveManagerLease lease;
    const auto drives = DriveDataList(lease.manager());
    if (const auto location = PER::FindLetteredVolume(lease.manager(), completedLetter)) {
        const auto holder = std::find_if(drives.begin(), drives.end(), [&](const PER::DriveData* data) {
            return data->GetDiskNumber() == location->diskNumber;
        });
        if (holder == drives.end()) {
            return std::nullopt;
        }
        return volumeDisk(**holder, *location, completedLetter, systemRoot);
    }
    std::optional<FormatTarget> empty;
    for (const PER::DriveData* data : drives) {
        if (holdsNoPartition(*data) && !holdsVolume(*data, systemRoot)) {
            empty = FormatTarget{data->GetDiskNumber(), isGpt(*data), L""};
        }
    }
    return empty;
}

std::optional<std::string> safeScriptArgument(const std::wstring& text, const wchar_t* what) {
    if (!isScriptSafeText(text)) {
        logExportFailure(kExport, std::wstring(what) + L" holds a double quote or a control character.");
        return std::nullopt;
    }
    auto converted = scriptArgument(text);
    if (!converted) {
        logExportFailure(kExport, std::wstring(what) + L" cannot be written into a diskpart script.");
    }
    return converted;
}

}  // namespace

int FormatNTFS(const wchar_t* driveLetter, const wchar_t* volumeLabel) {
    const auto letter = textArgument(kExport, L"the drive letter", driveLetter);
    const auto label = letter ? textArgument(kExport, L"the volume label", volumeLabel) : std::nullopt;
    if (!letter || !label) {
        return 0;
    }
    const auto ansiLetter = safeScriptArgument(*letter, L"the drive letter");
    if (!ansiLetter || (!label->empty() && !safeScriptArgument(*label, L"the volume label"))) {
        return 0;
    }
    const auto target = chooseDisk(PER::CompleteDriveLetter(*letter));
    if (!target) {
        return 0;
    }
    const auto ansiLabel = safeScriptArgument(label->empty() ? target->label : *label, L"the volume label");
    if (!ansiLabel) {
        return 0;
    }
    return FormatDisk(target->diskNumber, target->gpt, *ansiLabel, *ansiLetter);
}

}  // namespace kvph
