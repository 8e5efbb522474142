#include "per/VolumeLocation.h"

#include "frame/Text.h"

namespace PER {

namespace {

constexpr wchar_t kNoLetter[] = L":\\";

}  // namespace

bool IsDiskpartPartition(const PartitionRecord& record) {
    return record.partitionNumber != 0 || record.kind == PartitionKind::Extended;
}

int DiskpartPartitionNumber(const DriveData& data, std::size_t position) {
    int number = 1;
    for (std::size_t before = 0; before < position; ++before) {
        const PartitionRecord* record = data.GetPartition(before);
        if (record != nullptr && IsDiskpartPartition(*record)) {
            ++number;
        }
    }
    return number;
}

std::wstring CompleteDriveLetter(std::wstring letter) {
    if (letter.find(L':') == std::wstring::npos) {
        letter += L':';
    }
    if (letter.find(L'\\') == std::wstring::npos) {
        letter += L'\\';
    }
    return letter;
}

std::optional<VolumeLocation> FindLetteredVolume(DriveManager& manager, const std::wstring& completedLetter) {
    std::optional<VolumeLocation> found;
    const std::size_t driveCount = manager.GetDriveCount();
    for (std::size_t drive = 0; drive < driveCount; ++drive) {
        const DriveDevice* device = manager.GetDrive(drive);
        const DriveData* data = device != nullptr ? device->GetDriveData() : nullptr;
        if (data == nullptr) {
            continue;
        }
        for (std::size_t position = 0; position < data->GetPartitionCount(); ++position) {
            const PartitionRecord* record = data->GetPartition(position);
            if (record == nullptr || kvph::equalsNoCase(record->letter, kNoLetter)) {
                continue;
            }
            if (kvph::equalsNoCase(record->letter, completedLetter)) {
                found = VolumeLocation{drive, data->GetDiskNumber(), static_cast<int>(position) + 1,
                                       DiskpartPartitionNumber(*data, position)};
                break;
            }
        }
    }
    return found;
}

}  // namespace PER
