#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "partition_ops/DriveList.h"
#include "partition_ops/SetPartitionId.h"
#include "per/VolumeLocation.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kExport[] = L"PH_SetNonHidden";

// A partition of an MBR disk that holds no letter: where a hidden volume may sit. Unallocated space
// has no partition to change, and an extended container must keep its type or its logical drives are
// cut off.
bool mayBeHidden(const PER::PartitionRecord& record) {
    const bool letterless = record.letter.empty() || equalsNoCase(record.letter, L":\\");
    return letterless && record.partitionNumber != 0 && record.kind != PER::PartitionKind::Extended;
}

}  // namespace

int SetNonHidden(const wchar_t* driveLetter) {
    const auto letter = textArgument(kExport, L"the drive letter", driveLetter);
    if (!letter) {
        return 0;
    }
    if (!isScriptSafeText(*letter)) {
        logExportFailure(kExport, L"the drive letter holds a double quote or a control character.");
        return 0;
    }
    const auto ansiLetter = scriptArgument(*letter);
    if (!ansiLetter) {
        logExportFailure(kExport, L"the drive letter cannot be written into a diskpart script.");
        return 0;
    }
    int result = 0;
    PER::DriveManagerLease lease;
    for (const PER::DriveData* data : DriveDataList(lease.manager())) {
        if (data->GetPartitionStyle() != static_cast<int>(win::PARTITION_STYLE_MBR_)) {
            continue;
        }
        for (std::size_t position = 0; position < data->GetPartitionCount(); ++position) {
            const PER::PartitionRecord* record = data->GetPartition(position);
            if (record != nullptr && mayBeHidden(*record)) {
                result = SetPartitionId(data->GetDiskNumber(), PER::DiskpartPartitionNumber(*data, position),
                                        kShownTypeId, *ansiLetter);
            }
        }
    }
    return result;
}

}  // namespace kvph
