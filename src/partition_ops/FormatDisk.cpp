#include "partition_ops/FormatDisk.h"

#include "frame/DiskpartCommands.h"
#include "frame/DiskpartRunner.h"
#include "frame/Log.h"

namespace kvph {

namespace {

constexpr int kFormatAttempts = 3;
constexpr std::uint32_t kPauseAfterFailedFormatMs = 1000;

}  // namespace

int FormatDisk(std::uint32_t diskNumber, bool gptDisk, const std::string& volumeLabel,
               const std::string& driveLetter) {
    // diskpart's disk numbers are the drive numbers 0 to 31, so the conversion keeps the value.
    const int disk = static_cast<int>(diskNumber);
    const auto script =
        volumeLabel.empty()
            ? composeScript(kScriptBytes, gptDisk ? scripts::kFormatGpt : scripts::kFormat, disk,
                            driveLetter.c_str())
            : composeScript(kScriptBytes, gptDisk ? scripts::kFormatGptWithLabel : scripts::kFormatWithLabel,
                            disk, volumeLabel.c_str(), driveLetter.c_str());
    if (!script) {
        logLine(std::wstring(kLogPrefix) +
                L"the format script does not fit its buffer; diskpart is not run.");
        return 0;
    }
    DiskpartSettings settings;
    settings.attempts = kFormatAttempts;
    settings.pauseAfterFailureMs = kPauseAfterFailedFormatMs;
    settings.errorFormat = L"(KvPartitionHelper)diskpart error because of 0x%08x";
    settings.successMessage = L"(KvPartitionHelper)diskpart format successfully";
    return resultOf(RunDiskpartScript(*script, settings));
}

}  // namespace kvph
