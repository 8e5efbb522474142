#include "per/GPTData.h"

#include "frame/Log.h"
#include "per/SaturatingMath.h"
#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

namespace {

// A GUID in its in-memory byte order, from the fields of its text form.
constexpr GuidBytes guid(std::uint32_t a, std::uint16_t b, std::uint16_t c, std::array<std::uint8_t, 8> d) {
    return {static_cast<std::uint8_t>(a),
            static_cast<std::uint8_t>(a >> 8),
            static_cast<std::uint8_t>(a >> 16),
            static_cast<std::uint8_t>(a >> 24),
            static_cast<std::uint8_t>(b),
            static_cast<std::uint8_t>(b >> 8),
            static_cast<std::uint8_t>(c),
            static_cast<std::uint8_t>(c >> 8),
            d[0],
            d[1],
            d[2],
            d[3],
            d[4],
            d[5],
            d[6],
            d[7]};
}

constexpr GuidBytes kReservedType =
    guid(0xe3c9e316, 0x0b5c, 0x4db8, {0x81, 0x7d, 0xf9, 0x2d, 0xf0, 0x02, 0x15, 0xae});
constexpr GuidBytes kEfiSystemType =
    guid(0xc12a7328, 0xf81f, 0x11d2, {0xba, 0x4b, 0x00, 0xa0, 0xc9, 0x3e, 0xc9, 0x3b});
constexpr GuidBytes kBasicDataType =
    guid(0xebd0a0a2, 0xb9e5, 0x4433, {0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7});
constexpr GuidBytes kRecoveryType =
    guid(0xde94bba4, 0x06d1, 0x4d40, {0xa1, 0x6a, 0xbf, 0xd5, 0x01, 0x79, 0xd6, 0xac});

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

GPTData::GPTData(std::uint32_t diskNumber, kvph::Handle handle) : DriveData(diskNumber, handle) {}

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
