// PH_CreateVHDX: creates the VHDX drive with one labelled NTFS volume on a free letter, lets the listing
// record it while attached, and leaves it detached and hidden.
#include <algorithm>
#include <cstdint>
#include <vector>

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
constexpr std::size_t kLongestNtfsLabel = 32;

std::optional<std::string> labelArgument(const wchar_t* volumeLabel) {
    const auto label = textArgument(kExportName, L"the label", volumeLabel);
    if (!label) {
        return std::nullopt;
    }
    if (!isScriptSafeText(*label)) {
        logExportFailure(kExportName, L"the label holds a double quote or a control character.");
        return std::nullopt;
    }
    // diskpart would make the file and then fail to format it.
    if (utf16Length(*label) > kLongestNtfsLabel) {
        logExportFailure(kExportName, L"the label is longer than the 32 characters of an NTFS label.");
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

// Makes the folders along the path, adding those it made to `made`: false, after one log line, when the
// file's folder is not there afterwards (a drive that does not exist, a folder that cannot be made), as
// diskpart could not make the file either; the caller removes what was made.
bool makeFoldersFor(const std::wstring& path, std::vector<std::wstring>& made) {
    EnsureDirectory(path, &made);  // 0 by design: the file itself is not there yet
    if (platform().pathFileExistsW(PathRemoveFileSpec(path))) {
        return true;
    }
    logExportFailure(kExportName, L"the folder of the VHDX path cannot be made.");
    return false;
}

void removeFolders(const std::vector<std::wstring>& made) {
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) {
        platform().removeDirectoryW(*folder);
    }
}

// A failed creation leaves nothing: nothing stood at the path before, so what stands there now is what
// the failed script made, and the folders are the ones this call made.
void removeFailedCreation(const std::string& ansiPath, const std::vector<std::wstring>& made) {
    platform().setFileAttributesA(ansiPath, win::FILE_ATTRIBUTE_NORMAL_);
    platform().deleteFileA(ansiPath);
    removeFolders(made);
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
    std::vector<std::wstring> madeFolders;
    if (!makeFoldersFor(*path, madeFolders)) {
        removeFolders(madeFolders);
        return 0;
    }
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart create vhdx successfully.";
    const ScriptOutcome outcome = RunDiskpartScript(*script, settings);
    if (outcome == ScriptOutcome::ScriptNotWritten) {
        removeFolders(madeFolders);
        return 0;
    }
    // The cap belongs to the drive just made: an older drive's cap stays while there is no new drive.
    if (outcome == ScriptOutcome::DiskpartSucceeded) {
        WriteMaxSize(maximumMB);
    }
    PH_ListFixedPartition();
    os.sleep(kPauseBeforeDetachMs);
    PH_DetachVHDX(path->c_str(), 0);
    if (outcome != ScriptOutcome::DiskpartSucceeded) {
        removeFailedCreation(*ansiPath, madeFolders);
        return 0;
    }
    os.setFileAttributesW(*path, win::FILE_ATTRIBUTE_HIDDEN_ | win::FILE_ATTRIBUTE_SYSTEM_);
    return 1;
}

}  // namespace kvph
