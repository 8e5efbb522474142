#include "per/DriveData.h"

#include <optional>
#include <utility>

#include "frame/Log.h"
#include "per/ByteReader.h"
#include "per/DriveLetterMap.h"
#include "per/SaturatingMath.h"
#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

namespace {

constexpr std::uint32_t kGeometryBytes = 40;      // DISK_GEOMETRY_EX with its first 8 data bytes
constexpr std::uint16_t kLinkTargetBytes = 1024;  // a target of up to 512 characters
constexpr std::size_t kLinkNameUnits = 64;
constexpr wchar_t kRootSuffix[] = L":\\";

// The target of an object-namespace symbolic link; nullopt when it cannot be opened or read.
std::optional<std::wstring> linkTarget(const std::wstring& name) {
    kvph::Platform& system = kvph::platform();
    if (!system.loadSymbolicLinkCalls()) {
        return std::nullopt;
    }
    const kvph::NtHandleResult opened =
        system.ntOpenSymbolicLinkObject(name, win::SYMBOLIC_LINK_QUERY_, win::OBJ_CASE_INSENSITIVE_);
    if (opened.status != win::STATUS_SUCCESS_) {
        return std::nullopt;
    }
    const kvph::UniqueNtHandle link(opened.handle);
    kvph::NtTextResult target = system.ntQuerySymbolicLinkObject(link.get(), kLinkTargetBytes);
    if (target.status != win::STATUS_SUCCESS_) {
        return std::nullopt;
    }
    return std::move(target.text);
}

}  // namespace

DriveData::DriveData() = default;

DriveData::DriveData(std::uint32_t diskNumber, kvph::BorrowedHandle handle)
    : handle_(handle), diskNumber_(diskNumber) {}

DriveData::~DriveData() = default;

const PartitionRecord* DriveData::GetPartition(std::size_t position) const {
    return position < partitions_.size() ? partitions_[position].get() : nullptr;
}

bool DriveData::ReadVolumeInfo(PartitionRecord& record, std::wstring& fileSystem, std::wstring& label) {
    record.letter += kRootSuffix;
    const kvph::VolumeInformation volume = kvph::platform().getVolumeInformationW(record.letter);
    if (!volume.ok) {
        fileSystem.clear();
        label.clear();
        return false;
    }
    fileSystem = volume.fileSystemName;
    label = volume.volumeName.empty() ? std::wstring(kNoLabel) : volume.volumeName;
    record.readOnly = (volume.fileSystemFlags & win::FILE_READ_ONLY_VOLUME_) != 0 ? 1 : 0;
    return true;
}

bool DriveData::FindDriveLetter(std::uint32_t partitionNumber, wchar_t& letter) {
    letter = 0;
    const std::wstring name =
        kvph::formatBounded(kLinkNameUnits, L"\\Device\\Harddisk%d\\Partition%d",
                            static_cast<int>(diskNumber_), static_cast<int>(partitionNumber));
    const std::optional<std::wstring> target = linkTarget(name);
    if (!target) {
        return false;
    }
    const std::optional<wchar_t> found = letters().letterOf(*target);
    if (!found) {
        return false;
    }
    letter = *found;
    return true;
}

std::int64_t DriveData::GetDiskSize() const {
    const kvph::IoResult geometry = kvph::platform().deviceIoControl(
        handle_.get(), win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, kGeometryBytes);
    if (!geometry.ok) {
        kvph::logLine(kvph::formatBounded(
            kvph::kWsprintfUnits,
            L"DeviceIoControl IOCTL_DISK_GET_DRIVE_GEOMETRY_EX failed with error code: %d\n",
            static_cast<int>(geometry.error)));
        return 0;
    }
    return ByteReader(geometry.output).i64(win::geometry::kDiskSize);
}

PartitionRecord& DriveData::AppendEntryRecord(const LayoutEntry& entry, PartitionKind kind, bool withLetter) {
    auto record = std::make_unique<PartitionRecord>();
    record->partitionNumber = entry.number;
    if (withLetter) {
        wchar_t letter = 0;
        if (FindDriveLetter(entry.number, letter)) {
            record->letter.assign(1, letter);
        }
    }
    record->sizeMB = megabytes(entry.length);
    record->info = entry.raw;
    record->kind = kind;
    return AppendRecord(std::move(record));
}

PartitionRecord& DriveData::AppendGapRecord(std::int64_t from, std::int64_t to) {
    auto record = std::make_unique<PartitionRecord>();
    record->kind = PartitionKind::Unused;
    record->fileSystem = L"Entry Unused";
    record->sizeMB = megabytes(saturatingSub(to, from));
    return AppendRecord(std::move(record));
}

PartitionRecord& DriveData::AppendRecord(std::unique_ptr<PartitionRecord> record) {
    record->index = static_cast<std::uint32_t>(partitions_.size());
    partitions_.push_back(std::move(record));
    return *partitions_.back();
}

DriveLetterMap& DriveData::letters() {
    if (sharedLetters_ != nullptr) {
        return *sharedLetters_;
    }
    if (!ownLetters_) {
        ownLetters_ = std::make_unique<DriveLetterMap>();
    }
    return *ownLetters_;
}

}  // namespace PER
