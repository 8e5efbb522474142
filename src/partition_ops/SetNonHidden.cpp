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

// A partition that PH_SetHidden hid: the hidden type it writes, and no letter. Every other letterless
// partition (System Reserved, recovery, an unformatted or foreign one) belongs to someone else and keeps
// its type; gaps and extended containers carry no such type.
bool hiddenByUs(const PER::PartitionRecord& record) {
    const bool letterless = record.letter.empty() || equalsNoCase(record.letter, L":\\");
    return letterless && record.info[win::partition::kMbrPartitionType] == kHiddenMbrType;
}

// Each hidden partition gets its own run, all from the record lists read before the first change.
// 1 when there was at least one and every run succeeded: one partition left hidden is a failure.
int showEveryHiddenPartition(const std::string& ansiLetter) {
    bool ran = false;
    bool everyRunSucceeded = true;
    PER::DriveManagerLease lease;
    for (const PER::DriveData* data : DriveDataList(lease.manager())) {
        if (data->GetPartitionStyle() != static_cast<int>(win::PARTITION_STYLE_MBR_)) {
            continue;
        }
        for (std::size_t position = 0; position < data->GetPartitionCount(); ++position) {
            const PER::PartitionRecord* record = data->GetPartition(position);
            if (record != nullptr && hiddenByUs(*record)) {
                ran = true;
                const int shown =
                    SetPartitionId(data->GetDiskNumber(), PER::DiskpartPartitionNumber(*data, position),
                                   kShownTypeId, ansiLetter);
                everyRunSucceeded = everyRunSucceeded && shown == 1;
            }
        }
    }
    return ran && everyRunSucceeded ? 1 : 0;
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
    return showEveryHiddenPartition(*ansiLetter);
}

}  // namespace kvph
