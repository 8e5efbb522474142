#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "partition_ops/SetPartitionId.h"
#include "per/VolumeLocation.h"

namespace kvph {

int SetHidden(const wchar_t* driveLetter) {
    const auto letter = textArgument(L"PH_SetHidden", L"the drive letter", driveLetter);
    if (!letter) {
        return 0;
    }
    std::optional<PER::VolumeLocation> location;
    {
        PER::DriveManagerLease lease;
        location = PER::FindLetteredVolume(lease.manager(), PER::CompleteDriveLetter(*letter));
    }
    if (!location) {
        return 0;
    }
    return SetPartitionId(location->diskNumber, location->diskpartNumber, kHiddenTypeId, "");
}

}  // namespace kvph
