#include "per/MBRData.h"

#include <algorithm>
#include <limits>

#include "per/ByteReader.h"
#include "per/SaturatingMath.h"
#include "platform/WinConstants.h"

namespace PER {

namespace win = kvph::win;

namespace {

constexpr std::uint32_t kGeometryBytes = 40;
constexpr std::uint32_t kPrimarySlots = 4;
constexpr std::uint32_t kEntriesPerBootRecord = 4;
constexpr std::uint8_t kExtendedType = 0x05;
constexpr std::uint8_t kExtendedLbaType = 0x0F;

bool isExtended(const LayoutEntry& entry) {
    return entry.mbrType == kExtendedType || entry.mbrType == kExtendedLbaType;
}

// Keeps `places` ordered by ascending start, equal starts in arrival order; an entry pushed past the
// last of `capacity` places is dropped.
void insertByStart(std::vector<LayoutEntry>& places, std::size_t capacity, const LayoutEntry& entry) {
    auto later = std::find_if(places.begin(), places.end(),
                              [&entry](const LayoutEntry& placed) { return placed.start > entry.start; });
    places.insert(later, entry);
    if (places.size() > capacity) {
        places.pop_back();
    }
}

}  // namespace

MBRData::MBRData(std::uint32_t diskNumber, kvph::BorrowedHandle handle) : DriveData(diskNumber, handle) {}

MBRData::~MBRData() = default;

bool MBRData::LoadLayout() {
    const LayoutQueryResult result = queryDriveLayout(GetHandle(), ShortReadPolicy::AcceptFullBuffer);
    if (!result.layout) {
        return false;
    }
    signature_ = result.layout->headerU32(win::layout::kMbrSignature);
    partitionCount_ = result.layout->partitionCount();
    Walk(*result.layout);
    return true;
}

std::wstring MBRData::GetDiskId() const {
    return {};
}

int MBRData::GetPartitionStyle() const {
    return static_cast<int>(win::PARTITION_STYLE_MBR_);
}

void MBRData::Walk(const DriveLayout& layout) {
    ClearRecords();
    if (!ReadGeometry()) {
        return;
    }
    std::vector<LayoutEntry> primaries;
    for (std::uint32_t i = 0; i < std::min(kPrimarySlots, partitionCount_); ++i) {
        const LayoutEntry entry = layout.entry(i);
        if (entry.mbrType != 0) {
            insertByStart(primaries, kPrimarySlots, entry);
        }
    }
    std::int64_t prevEnd = 0;
    for (const LayoutEntry& entry : primaries) {
        if (isExtended(entry)) {
            prevEnd = WalkExtended(layout, entry, prevEnd);
            continue;
        }
        AppendGapIfAny(prevEnd, entry.start);
        AppendPartition(entry, PartitionKind::Data);
        prevEnd = entry.end();
    }
    AppendGapIfAny(prevEnd, GetDiskSize());
}

std::int64_t MBRData::WalkExtended(const DriveLayout& layout, const LayoutEntry& extended,
                                   std::int64_t prevEnd) {
    PartitionRecord& container = AppendEntryRecord(extended, PartitionKind::Extended, false);
    ReadVolumeInfo(container, container.fileSystem, container.label);
    // The gap before the extended partition follows its container record.
    AppendGapIfAny(prevEnd, extended.start);

    if (partitionCount_ < 2 * kEntriesPerBootRecord) {
        auto empty = std::make_unique<PartitionRecord>();
        empty->kind = PartitionKind::Logical;
        empty->fileSystem = L"Entry Unused";
        empty->sizeMB = megabytes(extended.length);
        AppendRecord(std::move(empty));
        return extended.end();
    }

    std::vector<LayoutEntry> logicals;
    const std::size_t places = partitionCount_ / kEntriesPerBootRecord - 1;
    for (std::uint32_t i = kEntriesPerBootRecord; i < partitionCount_ - 1; i += kEntriesPerBootRecord) {
        const LayoutEntry entry = layout.entry(i);
        if (entry.mbrType != 0) {
            insertByStart(logicals, places, entry);
        }
    }
    std::int64_t logicalPrevEnd = extended.start;
    for (const LayoutEntry& logical : logicals) {
        // A logical drive claiming to start before its extended partition is measured from the latter.
        const std::int64_t start = std::max(logical.start, extended.start);
        AppendGapIfAny(logicalPrevEnd, start);
        AppendPartition(logical, PartitionKind::Logical);
        logicalPrevEnd = saturatingAdd(start, logical.length);
    }
    AppendGapIfAny(logicalPrevEnd, extended.end());
    return extended.end();
}

bool MBRData::ReadGeometry() {
    const kvph::IoResult geometry = kvph::platform().deviceIoControl(
        GetHandle(), win::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, kGeometryBytes);
    if (!geometry.ok) {
        return false;
    }
    const ByteReader reader(geometry.output);
    tracksPerCylinder_ = reader.u32(win::geometry::kTracksPerCylinder);
    sectorsPerTrack_ = reader.u32(win::geometry::kSectorsPerTrack);
    bytesPerSector_ = reader.u32(win::geometry::kBytesPerSector);
    return true;
}

// A stretch is a gap when its end lies at least two cylinder boundaries past its start. A geometry with a
// zero factor has no cylinders to count, so it records no gaps.
bool MBRData::IsGap(std::int64_t from, std::int64_t to) const {
    const std::uint32_t cylinderBytes = bytesPerSector_ * sectorsPerTrack_ * tracksPerCylinder_;
    if (cylinderBytes == 0) {
        return false;
    }
    const std::int64_t fromCylinder = from / static_cast<std::int64_t>(cylinderBytes);
    const std::int64_t toCylinder = to / static_cast<std::int64_t>(cylinderBytes);
    // toCylinder - fromCylinder - 1 > 0, written so that it cannot overflow.
    return toCylinder != std::numeric_limits<std::int64_t>::min() && toCylinder - 1 > fromCylinder;
}

void MBRData::AppendGapIfAny(std::int64_t from, std::int64_t to) {
    if (IsGap(from, to)) {
        AppendGapRecord(from, to);
    }
}

void MBRData::AppendPartition(const LayoutEntry& entry, PartitionKind kind) {
    PartitionRecord& record = AppendEntryRecord(entry, kind, true);
    ReadVolumeInfo(record, record.fileSystem, record.label);
}

}  // namespace PER
