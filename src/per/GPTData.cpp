#include "per/GPTData.h"

#include "frame/Log.h"
#include "per/PartitionTypes.h"
#include "per/SaturatingMath.h"
#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

namespace {

// Partitions closer together than this (or to the disk's end) leave no gap record.
constexpr std::int64_t kGapThresholdBytes = 2 * kBytesPerMB;

PartitionKind kindOf(const GuidBytes& type) {
    if (type == kReservedType) {
        return PartitionKind::Reserved;
    }
    if (type == kEfiSystemType) {
        return PartitionKind::EfiSystem;
    }
    if (type == kBasicDataType || type == kRecoveryType) {
        return PartitionKind::Data;
    }
    return PartitionKind::Unused;
}

}  // namespace

GPTData::GPTData(std::uint32_t diskNumber, kvph::BorrowedHandle handle) : DriveData(diskNumber, handle) {}

GPTData::~GPTData() = default;

bool GPTData::LoadLayout() {
    const LayoutQueryResult result = queryDriveLayout(GetHandle(), ShortReadPolicy::Reject);
    if (!result.layout) {
        kvph::logLine(kvph::formatBounded(
            kvph::kWsprintfUnits,
            L"DeviceIoControl IOCTL_DISK_GET_DRIVE_LAYOUT_EX failed with error code: %d\n",
            static_cast<int>(result.error)));
        return false;
    }
    diskId_ = result.layout->headerGuid(win::layout::kGptDiskId);
    partitionCount_ = result.layout->partitionCount();
    Walk(*result.layout);
    return true;
}

void GPTData::Walk(const DriveLayout& layout) {
    ClearRecords();
    AppendPartition(layout.entry(0));
    for (std::uint32_t i = 1; i < partitionCount_; ++i) {
        const LayoutEntry previous = layout.entry(i - 1);
        const LayoutEntry current = layout.entry(i);
        if (current.start > saturatingAdd(previous.end(), kGapThresholdBytes)) {
            AppendGapRecord(previous.end(), current.start);
        }
        AppendPartition(current);
        if (i + 1 == partitionCount_) {
            const std::int64_t diskSize = GetDiskSize();
            if (saturatingAdd(current.end(), kGapThresholdBytes) < diskSize) {
                AppendGapRecord(current.end(), diskSize);
            }
        }
    }
}

void GPTData::AppendPartition(const LayoutEntry& entry) {
    const PartitionKind kind = kindOf(entry.gptType);
    PartitionRecord& record = AppendEntryRecord(entry, kind, true);
    switch (kind) {
        case PartitionKind::Reserved:
            record.fileSystem = L"Microsoft reserved partition";
            break;
        case PartitionKind::EfiSystem:
            ReadVolumeInfo(record, record.fileSystem, record.label);
            record.fileSystem = L"EFI system partition";
            break;
        case PartitionKind::Data:
            ReadVolumeInfo(record, record.fileSystem, record.label);
            break;
        default:
            record.fileSystem = L"Entry Unused";
            break;
    }
}

std::wstring GPTData::GetDiskId() const {
    std::uint8_t bytes[16];
    std::copy(diskId_.begin(), diskId_.end(), bytes);
    std::uint32_t error = 0;
    return kvph::platform().stringFromCLSID(bytes, error).value_or(std::wstring());
}

int GPTData::GetPartitionStyle() const {
    return static_cast<int>(win::PARTITION_STYLE_GPT_);
}

}  // namespace PER
