// ShrinkPartition and ExtendPartition: one script each on the volume RecordDiskPartition has just found.
// They never fall back on an older UserData.ini, whose numbers may by now name another disk.
#include "frame/DiskpartCommands.h"
#include "lifecycle/SizeSettings.h"
#include "lifecycle/VhdxDrive.h"

namespace kvph {

int ShrinkPartition(const std::wstring& letter, int amountMB) {
    const std::optional<PER::VolumeLocation> location = RecordVolumeLocation(letter);
    if (!location) {
        return 0;
    }
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart shrink successfully.";
    return resultOf(runComposedScript(
        composeScript(kScriptBytes, scripts::kShrinkPartition, static_cast<int>(location->diskNumber),
                      location->diskpartNumber, amountMB),
        settings));
}

int ExtendPartition(const std::wstring& letter) {
    const std::optional<PER::VolumeLocation> location = RecordVolumeLocation(letter);
    if (!location) {
        return 0;
    }
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart expand successfully.";
    return resultOf(
        runComposedScript(composeScript(kScriptBytes, scripts::kExtendPartition,
                                        static_cast<int>(location->diskNumber), location->diskpartNumber),
                          settings));
}

}  // namespace kvph
