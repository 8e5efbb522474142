// PH_CreateVHDX: creates the VHDX drive with one labelled NTFS volume on a free letter, lets the listing
// record it while attached, and leaves it detached and hidden.
#include <algorithm>
#include <cstdint>

#include "KvPartitionHelper.h"
#include "frame/DiskpartCommands.h"
#include "frame/ExportGuard.h"
#include "frame/Folders.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "lifecycle/SizeSettings.h"
#include "lifecycle/VhdxDrive.h"
#include "partition_ops/FreeDriveLetter.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kExportName[] = L"PH_CreateVHDX";
constexpr std::uint32_t kPauseBeforeDetachMs = 1000;

std::optional<std::string> labelArgument(const wchar_t* volumeLabel) {
    const auto label = textArgument(kExportName, L"the label", volumeLabel);
    if (!label) {
        return std::nullopt;
    }
    if (!isScriptSafeText(*label)) {
        logExportFailure(kExportName, L"the label holds a double quote or a control character.");
        return std::nullopt;
    }
    auto ansi = scriptArgument(*label);
    if (!ansi) {
        logExportFailure(kExportName, L"the label cannot be written in the ANSI code page.");
    }
    return ansi;
}

// The maximum argument when it is a cap, else all the free space of the holding drive, never more than a
// script's "%d" can carry; nullopt when that space is unknown or under 1 MB, as diskpart then refuses.
std::optional<int> sizeInMegabytes(const std::wstring& path, int maximumMB) {
    if (maximumMB > 0) {
        return maximumMB;
    }
    const std::uint64_t freeMB = FreeMegabytesOnDriveOf(path).value_or(0);
    if (freeMB == 0) {
        return std::nullopt;
    }
    return static_cast<int>(std::min<std::uint64_t>(freeMB, kLargestStoredNumber));
}

// The creation script, or nullopt after one log line when the create would be refused or certainly fail.
std::optional<std::string> creationScript(const std::wstring& path, const std::string& ansiPath,
                                          const std::string& ansiLabel, int maximumMB, int expandable) {
    const std::optional<std::string> letter = scriptArgument(FindFreeDriveLetter());
    if (!letter || letter->empty()) {
        logExportFailure(kExportName, L"no drive letter is free for the new volume.");
        return std::nullopt;
    }
    const std::optional<int> sizeMB = sizeInMegabytes(path, maximumMB);
    if (!sizeMB) {
        logExportFailure(kExportName,
                         L"no maximum size was given and the free space of the VHDX's drive is "
                         L"unknown or under 1 MB.");
        return std::nullopt;
    }
    const char* type = expandable != 0 ? "expandable" : "fixed";
    auto script = composeScript(kScriptBytes, scripts::kCreateVhdx, ansiPath.c_str(), type, *sizeMB,
                                ansiPath.c_str(), ansiLabel.c_str(), letter->c_str());
    if (!script) {
        logLine(L"(KvPartitionHelper)Script too long.\r\n");
    }
    return script;
}

}  // namespace

int CreateVHDX(const wchar_t* vhdxPath, const wchar_t* volumeLabel, int maximumMB, int expandable) {
    const auto path = textArgument(kExportName, L"the VHDX path", vhdxPath);
    const auto ansiPath = path ? vhdxScriptPath(kExportName, *path) : std::nullopt;
    const auto ansiLabel = ansiPath ? labelArgument(volumeLabel) : std::nullopt;
    if (!ansiLabel) {
        return 0;
    }
    Platform& os = platform();
    // Whatever stands at the path, under either form of its name, is the caller's: never replaced.
    if (os.pathFileExistsW(*path) || os.pathFileExistsA(*ansiPath)) {
        logExportFailure(kExportName, L"something exists at the VHDX path already.");
        return 0;
    }
    // Everything that would refuse the create is settled before the first change to the machine.
    const std::optional<std::string> script =
        creationScript(*path, *ansiPath, *ansiLabel, maximumMB, expandable);
    if (!script) {
        return 0;
    }
    EnsureDirectory(*path);
    WriteMaxSize(maximumMB);
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart create vhdx successfully.";
    const ScriptOutcome outcome = RunDiskpartScript(*script, settings);
    if (outcome == ScriptOutcome::ScriptNotWritten) {
        return 0;
    }
    PH_ListFixedPartition();
    os.sleep(kPauseBeforeDetachMs);
    PH_DetachVHDX(path->c_str(), 0);
    os.setFileAttributesW(*path, win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    return resultOf(outcome);
}

}  // namespace kvph
