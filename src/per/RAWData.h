// The partition data of a disk without a partition table: no records.
#pragma once

#include "per/DriveData.h"

namespace PER {

class RAWData : public DriveData {
public:
    RAWData();
    ~RAWData() override;

    bool LoadLayout() override;
    std::wstring GetDiskId() const override;
    int GetPartitionStyle() const override;
};

}  // namespace PER
