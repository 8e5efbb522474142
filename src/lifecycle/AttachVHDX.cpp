// PH_AttachVHDX: attaches the VHDX drive, fits its size to the room on the drive that holds the file,
// and keeps AutoRun off for every drive type while diskpart brings the disk in.
#include <cstdlib>

#include "KvPartitionHelper.h"
#include "frame/DiskpartCommands.h"
#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "lifecycle/DwordRegHelper.h"
#include "lifecycle/SizeSettings.h"
#include "lifecycle/VhdxDrive.h"
#include "platform/Platform.h"

namespace kvph {

namespace {

constexpr wchar_t kExportName[] = L"PH_AttachVHDX";
constexpr wchar_t kAutoRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr wchar_t kAutoRunValue[] = L"NoDriveTypeAutoRun";
constexpr std::uint32_t kAutoRunOffForAllDrives = 255;
constexpr std::uint32_t kPauseAfterSuppressMs = 500;
constexpr std::uint32_t kPauseAfterRestoreMs = 250;
constexpr std::uint32_t kPauseBeforeReattachMs = 3000;

bool countsAsVhdx(const std::wstring& path) {
    const std::size_t dot = path.find_last_of(L".\\");
    return dot != std::wstring::npos && path[dot] == L'.' && equalsNoCase(path.substr(dot), L".vhdx");
}

std::optional<std::string> attachScript(const std::string& ansiPath, int readOnly) {
    return composeScript(kScriptBytes, readOnly != 0 ? scripts::kAttachReadOnly : scripts::kAttach,
                         ansiPath.c_str());
}

std::optional<std::string> chosenScript(const std::string& ansiPath, int difference, std::uint32_t newSizeMB,
                                        int readOnly) {
    if (difference > 0) {
        // An expanded disk is attached read-write so that its volume can be extended.
        return composeScript(kScriptBytes, scripts::kExpandThenAttach, ansiPath.c_str(),
                             static_cast<int>(newSizeMB));
    }
    return attachScript(ansiPath, readOnly);
}

const wchar_t* resizeAfterAttach(const std::wstring& letter, int difference) {
    if (difference < 0) {
        ShrinkPartition(letter, -difference);
        PH_ListFixedPartition();
        return L"(KvPartitionHelper)success attach and shrink.";
    }
    if (difference > 0) {
        ExtendPartition(letter);
        PH_ListFixedPartition();
        return L"(KvPartitionHelper)success attach and expand.";
    }
    PH_ListFixedPartition();
    return L"(KvPartitionHelper)success attach, size is similar.";
}

// After a failed attach: retry through a detach unless a .vhdx needed a shrink.
int retryAfterFailedAttach(const std::string& ansiPath, const std::wstring& letter, bool isVhdx,
                           int difference, int readOnly) {
    int result = 0;
    if (!isVhdx) {
        ReattachVHDX(ansiPath, readOnly);
        result = 1;
    } else if (difference >= 0) {
        result = ReattachVHDX(ansiPath, readOnly);
        ExtendPartition(letter);
    }
    PH_ListFixedPartition();
    return result;
}

}  // namespace

int ReattachVHDX(const std::string& ansiPath, int readOnly) {
    DiskpartSettings detach;
    detach.successMessage = L"(KvPartitionHelper)try detach successfully.";
    detach.errorFormat = L"(KvPartitionHelper)try detach not successfully because of 0x%08x.";
    if (runComposedScript(composeScript(kScriptBytes, scripts::kDetach, ansiPath.c_str()), detach) ==
        ScriptOutcome::ScriptNotWritten) {
        return 0;
    }
    platform().sleep(kPauseBeforeReattachMs);
    DiskpartSettings attach;
    attach.successMessage = L"(KvPartitionHelper)diskpart only_attach successfully.";
    return resultOf(runComposedScript(attachScript(ansiPath, readOnly), attach));
}

int AttachVHDX(const wchar_t* vhdxPath, int readOnly) {
    const auto path = textArgument(kExportName, L"the VHDX path", vhdxPath);
    const auto ansiPath = path ? vhdxScriptPath(kExportName, *path) : std::nullopt;
    if (!ansiPath) {
        return 0;
    }
    const std::wstring letter = recordedVhdxLetter();
    if (!letter.empty() && platform().pathFileExistsW(letter)) {
        return 1;
    }
    const bool isVhdx = countsAsVhdx(*path);
    std::uint32_t newSizeMB = 0;
    int difference = CompareVHDXSize(*path, letter, &newSizeMB);
    if (!isVhdx) {
        difference = 0;
    }

    DwordRegHelper autoRun(RegistryRoot::LocalMachine, kAutoRunKey, kAutoRunValue);
    SavedDword saved;
    bool suppressed = false;
    DiskpartSettings settings;
    settings.echo = true;
    settings.successMessage = L"(KvPartitionHelper)diskpart attach successfully.";
    settings.beforeRun = [&] {
        saved = autoRun.Save();
        autoRun.Write(kAutoRunOffForAllDrives);
        suppressed = true;
        platform().sleep(kPauseAfterSuppressMs);
    };
    const ScriptOutcome outcome =
        runComposedScript(chosenScript(*ansiPath, difference, newSizeMB, readOnly), settings);
    if (outcome == ScriptOutcome::ScriptNotWritten) {
        return 0;
    }
    int result = 1;
    if (outcome == ScriptOutcome::DiskpartSucceeded) {
        logLine(resizeAfterAttach(letter, difference));
    } else {
        result = retryAfterFailedAttach(*ansiPath, letter, isVhdx, difference, readOnly);
        logLine(L"(KvPartitionHelper)re-try attach, then expand disc size.");
    }
    if (suppressed && autoRun.Restore(saved)) {
        platform().sleep(kPauseAfterRestoreMs);
    }
    return result;
}

}  // namespace kvph
