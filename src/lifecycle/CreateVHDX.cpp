// PH_CreateVHDX: creates the VHDX drive with one labelled NTFS volume on a free letter, lets the listing
// record it while attached, and leaves it detached and hidden.
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

int sizeInMegabytes(const std::wstring& path, int maximumMB) {
    return maximumMB > 0 ? maximumMB : static_cast<int>(FreeMegabytesOnDriveOf(path));
}

ScriptOutcome runCreationScript(const std::wstring& path, const std::string& ansiPath,
                                const std::string& ansiLabel, int maximumMB, int expandable) {
    const std::optional<std::string> letter = scriptArgument(FindFreeDriveLetter());
    const char* type = expandable != 0 ? "expandable" : "fixed";
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart create vhdx successfully.";
    return runComposedScript(composeScript(kScriptBytes, scripts::kCreateVhdx, ansiPath.c_str(), type,
                                           sizeInMegabytes(path, maximumMB), ansiPath.c_str(),
                                           ansiLabel.c_str(), letter.value_or("").c_str()),
                             settings);
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
        return 0;
    }
    EnsureDirectory(*path);
    WriteMaxSize(maximumMB);
    const ScriptOutcome outcome = runCreationScript(*path, *ansiPath, *ansiLabel, maximumMB, expandable);
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
