// The partition data of a GPT disk: layout entries in the order the driver returns them, with a gap
// record wherever more than 2 MiB lie unused between two of them or after the last.
#pragma once

#include "per/DriveData.h"
#include "per/DriveLayout.h"

namespace PER {

class GPTData : public DriveData {
public:
    GPTData(std::uint32_t diskNumber, kvph::BorrowedHandle handle);
    ~GPTData() override;

    bool LoadLayout() override;
    // The disk GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; empty if it cannot be converted.
    std::wstring GetDiskId() const override;
    int GetPartitionStyle() const override;

    std::uint32_t GetLayoutPartitionCount() const { return partitionCount_; }

private:
    void Walk(const DriveLayout& layout);
    void AppendPartition(const LayoutEntry& entry);

    GuidBytes diskId_{};
    std::uint32_t partitionCount_ = 0;
};

}  // namespace PER
