// The partition data of every drive the shared manager holds, in list order.
#pragma once

#include <vector>

#include "per/DriveManager.h"

namespace kvph {

inline std::vector<const PER::DriveData*> DriveDataList(PER::DriveManager& manager) {
    std::vector<const PER::DriveData*> list;
    for (std::size_t position = 0; position < manager.GetDriveCount(); ++position) {
        const PER::DriveDevice* device = manager.GetDrive(position);
        if (device != nullptr && device->GetDriveData() != nullptr) {
            list.push_back(device->GetDriveData());
        }
    }
    return list;
}

}  // namespace kvph
