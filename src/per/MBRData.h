// The partition data of an MBR disk: primary partitions by ascending start, the extended container
// followed by its logical drives, and gap records for free stretches of at least two cylinder
// boundaries.
#pragma once

#include <vector>

#include "per/DriveData.h"
#include "per/DriveLayout.h"

namespace PER {

class MBRData : public DriveData {
public:
    MBRData(std::uint32_t diskNumber, kvph::BorrowedHandle handle);
    ~MBRData() override;

    bool LoadLayout() override;
    std::wstring GetDiskId() const override;
    int GetPartitionStyle() const override;

    std::uint32_t GetSignature() const { return signature_; }
    std::uint32_t GetLayoutPartitionCount() const { return partitionCount_; }

private:
    void Walk(const DriveLayout& layout);
    bool ReadGeometry();
    bool IsGap(std::int64_t from, std::int64_t to) const;
    void AppendGapIfAny(std::int64_t from, std::int64_t to);
    void AppendPartition(const LayoutEntry& entry, PartitionKind kind);
    // Returns the end of the extended partition, where the walk of the primaries goes on.
    std::int64_t WalkExtended(const DriveLayout& layout, const LayoutEntry& extended, std::int64_t prevEnd);

    std::uint32_t signature_ = 0;
    std::uint32_t partitionCount_ = 0;
    std::uint32_t tracksPerCylinder_ = 0;
    std::uint32_t sectorsPerTrack_ = 0;
    std::uint32_t bytesPerSector_ = 0;
};

}  // namespace PER
