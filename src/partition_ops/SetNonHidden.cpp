#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "partition_ops/DriveList.h"
#include "partition_ops/FreeDriveLetter.h"
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

// The letter of "K", "K:" or "K:\" (either case), upper-cased.
std::optional<wchar_t> oneDriveLetter(const std::wstring& text) {
    const bool shape = text.size() == 1 || (text.size() == 2 && text[1] == L':') ||
                       (text.size() == 3 && text[1] == L':' && text[2] == L'\\');
    const wchar_t letter = text.empty() ? L'\0' : text[0];
    if (shape && letter >= L'A' && letter <= L'Z') {
        return letter;
    }
    if (shape && letter >= L'a' && letter <= L'z') {
        return static_cast<wchar_t>(letter - L'a' + L'A');
    }
    return std::nullopt;
}

// A letter that diskpart would refuse would fail each run after its "set id" had shown the partition,
// leaving it letterless where no call finds it again; so the letter is checked before anything changes.
bool letterCanBeGiven(const std::wstring& text) {
    const std::optional<wchar_t> letter = oneDriveLetter(text);
    if (!letter) {
        logExportFailure(kExport, L"the drive letter " + text +
                                      L" is not one letter from A to Z, alone or followed by \":\" or "
                                      L"\":\\\".");
        return false;
    }
    const std::optional<std::uint32_t> assigned = AssignedDriveLetters();
    if (!assigned) {
        return false;
    }
    if (!IsFreeDriveLetter(*letter, *assigned)) {
        logExportFailure(kExport, L"the drive letter " + text + L" is in use.");
        return false;
    }
    return true;
}

// Each hidden partition gets its own run, all from the record lists read before the first change. One
// letter names one volume: the first hidden partition in list order gets it, the others are shown
// without one. 1 when there was at least one and every run succeeded: one left hidden is a failure.
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
                const int shown =
                    SetPartitionId(data->GetDiskNumber(), PER::DiskpartPartitionNumber(*data, position),
                                   kShownTypeId, ran ? std::string() : ansiLetter);
                ran = true;
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
    if (!letter->empty() && !letterCanBeGiven(*letter)) {
        return 0;
    }
    // diskpart's assign takes "K" and "K:"; "K:\" is not known to be taken, and an assign refused after
    // "set id" would leave the partition shown without a letter.
    std::wstring assigned = *letter;
    if (!assigned.empty() && assigned.back() == L'\\') {
        assigned.pop_back();
    }
    const auto ansiLetter = scriptArgument(assigned);
    if (!ansiLetter) {
        logExportFailure(kExport, L"the drive letter cannot be written into a diskpart script.");
        return 0;
    }
    return showEveryHiddenPartition(*ansiLetter);
}

}  // namespace kvph
