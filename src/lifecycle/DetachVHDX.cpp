// PH_DetachVHDX: detaches the VHDX drive after recording where its volume sits; asked to, removes the
// drive's file and its inventory and size files once the detach has succeeded.
#include "frame/DiskpartCommands.h"
#include "frame/ExportGuard.h"
#include "frame/Folders.h"
#include "frame/Log.h"
#include "frame/Operations.h"
#include "inventory/PartitionInventory.h"
#include "inventory/VhdxPresenceQuery.h"
#include "lifecycle/SizeSettings.h"
#include "lifecycle/VhdxDrive.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kExportName[] = L"PH_DetachVHDX";

void deleteLibraryFile(const wchar_t* name) {
    DeleteAnyFile(PathAddBackslash(LibraryFolder()) + name);
}

// The file is named by the same ANSI text the script gave diskpart.
void removeDriveFiles(const std::string& ansiPath) {
    platform().setFileAttributesA(ansiPath, win::FILE_ATTRIBUTE_NORMAL_);
    platform().deleteFileA(ansiPath);
    deleteLibraryFile(inventory::kFileName);
    deleteLibraryFile(kMaxSizeFileName);
}

// A drive that diskpart could not detach because it is detached already can still be removed at the end
// of its life; only a listing that shows it not attached says so.
bool detachedAlready(ScriptOutcome outcome, int removeFiles, const std::wstring& path) {
    if (outcome != ScriptOutcome::DiskpartFailed || removeFiles == 0) {
        return false;
    }
    const std::optional<VdiskPresence> presence = QueryVdiskPresence(path);
    if (!presence || presence->attached) {
        return false;
    }
    logLine(L"(KvPartitionHelper)the VHDX is not attached; its files are removed.");
    return true;
}

}  // namespace

int DetachVHDX(const wchar_t* vhdxPath, int removeFiles) {
    const auto path = textArgument(kExportName, L"the VHDX path", vhdxPath);
    const auto ansiPath = path ? vhdxScriptPath(kExportName, *path) : std::nullopt;
    if (!ansiPath) {
        return 0;
    }
    RecordDiskPartition(recordedVhdxLetter());
    DiskpartSettings settings;
    settings.successMessage = L"(KvPartitionHelper)diskpart detach successfully.";
    const ScriptOutcome outcome =
        runComposedScript(composeScript(kScriptBytes, scripts::kDetach, ansiPath->c_str()), settings);
    if (outcome != ScriptOutcome::DiskpartSucceeded && !detachedAlready(outcome, removeFiles, *path)) {
        return 0;
    }
    if (removeFiles != 0) {
        removeDriveFiles(*ansiPath);
    }
    return 1;
}

}  // namespace kvph
