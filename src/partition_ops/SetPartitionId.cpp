#include "partition_ops/SetPartitionId.h"

#include "frame/DiskpartCommands.h"
#include "frame/DiskpartRunner.h"
#include "frame/Log.h"
#include "frame/Text.h"

namespace kvph {

namespace {

std::wstring successMessageFor(const std::string& typeId) {
    const std::wstring id(typeId.begin(), typeId.end());
    if (equalsNoCase(id, L"1b")) {
        return L"(KvPartitionHelper)diskpart set hidden successfully.";
    }
    if (equalsNoCase(id, L"0b")) {
        return L"(KvPartitionHelper)diskpart set non-hidden successfully.";
    }
    return {};
}

}  // namespace

int SetPartitionId(std::uint32_t diskNumber, int partitionNumber, const std::string& typeId,
                   const std::string& driveLetter) {
    // diskpart's disk numbers are the drive numbers 0 to 31, so the conversion keeps the value.
    const int disk = static_cast<int>(diskNumber);
    const auto script =
        driveLetter.empty()
            ? composeScript(kScriptBytes, scripts::kSetId, disk, partitionNumber, typeId.c_str())
            : composeScript(kScriptBytes, scripts::kSetIdWithLetter, disk, partitionNumber, typeId.c_str(),
                            driveLetter.c_str());
    if (!script) {
        logLine(std::wstring(kLogPrefix) +
                L"the set id script does not fit its buffer; diskpart is not run.");
        return 0;
    }
    DiskpartSettings settings;
    settings.successMessage = successMessageFor(typeId);
    return resultOf(RunDiskpartScript(*script, settings));
}

}  // namespace kvph
