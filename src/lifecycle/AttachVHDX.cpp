// PH_AttachVHDX: attaches the VHDX drive, fits its size to the room on the drive that holds the file,
// and keeps AutoRun off for every drive type while diskpart brings the disk in.
#include "KvPartitionHelper.h"
#include "frame/DiskpartCommands.h"
#include "frame/ExportGuard.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "inventory/PartitionInventory.h"
#include "inventory/VhdxPresenceQuery.h"
#include "lifecycle/AutoRunSuppression.h"
#include "lifecycle/SizeSettings.h"
#include "lifecycle/VhdxDrive.h"
#include "per/DriveManager.h"
#include "per/VolumeLocation.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

constexpr wchar_t kExportName[] = L"PH_AttachVHDX";
constexpr std::uint32_t kPauseBeforeReattachMs = 3000;

bool countsAsVhdx(const std::wstring& path) {
    const std::size_t dot = path.find_last_of(L".\\");
    return dot != std::wstring::npos && path[dot] == L'.' && equalsNoCase(path.substr(dot), L".vhdx");
}

// The bus type of the physical drive holding the volume of `letter`; nullopt when no drive holds it or
// the drive does not say.
std::optional<std::uint32_t> busTypeOfDriveHolding(const std::wstring& letter) {
    PER::DriveManagerLease lease;
    const std::optional<PER::VolumeLocation> location =
        PER::FindLetteredVolume(lease.manager(), PER::CompleteDriveLetter(letter));
    const PER::DriveDevice* device = location ? lease.manager().GetDrive(location->drivePosition) : nullptr;
    const std::uint32_t busType =
        device != nullptr ? inventory::QueryBusType(device->GetFileHandle()) : inventory::kBusTypeUnknown;
    return busType != inventory::kBusTypeUnknown ? std::optional<std::uint32_t>(busType) : std::nullopt;
}

bool hasRecordedLabel(const std::wstring& letter, const std::wstring& recordedLabel) {
    const VolumeInformation volume = platform().getVolumeInformationW(PER::CompleteDriveLetter(letter));
    const std::wstring label = volume.volumeName.empty() ? PER::kNoLabel : volume.volumeName;
    return volume.ok && equalsNoCase(label, recordedLabel);
}

// Whether the volume now mounted under the recorded letter is the VHDX drive's own. Another disk may have
// taken the letter while the drive was detached (a USB stick): it must neither be reported as the drive
// nor be resized. A volume on a known disk is the drive's only on a file-backed virtual disk, whatever its
// label now says; without a disk (a network drive, a substituted folder) or a bus the disk reports, only
// when it carries the label the drive was listed with. Judging the drive's own volume foreign would
// have the attach fail and its retry detach a volume in use.
bool isTheDrivesVolume(const RecordedVhdxVolume& recorded) {
    const std::optional<std::uint32_t> busType = busTypeOfDriveHolding(recorded.letter);
    if (busType) {
        return *busType == win::storage::BusTypeFileBackedVirtual;
    }
    return hasRecordedLabel(recorded.letter, recorded.label);
}

bool volumeLiesOnDisk(const std::wstring& letter, int diskNumber) {
    PER::DriveManagerLease lease;
    const std::optional<PER::VolumeLocation> location =
        PER::FindLetteredVolume(lease.manager(), PER::CompleteDriveLetter(letter));
    return location && static_cast<std::int64_t>(location->diskNumber) == diskNumber;
}

// The listing shows the VHDX attached, so there is nothing to attach: an attach would fail, and its retry
// would detach a volume in use. Says so when the drive's volume is not the one under the letter: the
// volume of the first section on the disk diskpart shows, or without a disk the recorded volume as
// isTheDrivesVolume judges it.
void noteAttachedDrive(const VdiskPresence& presence, const RecordedVhdxVolume& recorded) {
    std::wstring letter = recorded.letter;
    bool underTheLetter = false;
    if (presence.diskNumber) {
        const std::wstring ownLetter = recordedVhdxVolume(presence.diskNumber).letter;
        letter = ownLetter.empty() ? letter : ownLetter;
        underTheLetter = !ownLetter.empty() && volumeLiesOnDisk(ownLetter, *presence.diskNumber);
    } else {
        underTheLetter = isTheDrivesVolume(recorded);
    }
    if (!underTheLetter) {
        logLine(std::wstring(kLogPrefix) + L"the VHDX is attached already, but its volume is not " + letter +
                L"; nothing is run.");
    }
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
        result = ReattachVHDX(ansiPath, readOnly);
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
    const RecordedVhdxVolume recorded = recordedVhdxVolume();
    std::wstring letter = recorded.letter;
    if (!letter.empty() && platform().pathFileExistsW(letter)) {
        // diskpart's listing tells whether the VHDX is attached; only without one is the letter's volume
        // judged by its disk and label.
        const std::optional<VdiskPresence> presence = QueryVdiskPresence(*path);
        if (presence && presence->attached) {
            noteAttachedDrive(*presence, recorded);
            return 1;
        }
        if (!presence && isTheDrivesVolume(recorded)) {
            return 1;
        }
        logLine(std::wstring(kLogPrefix) + letter +
                L" is not the VHDX drive's volume; attaching without a resize.");
        letter.clear();
    }
    const bool isVhdx = countsAsVhdx(*path);
    std::uint32_t newSizeMB = 0;
    int difference = CompareVHDXSize(*path, letter, &newSizeMB);
    if (!isVhdx) {
        difference = 0;
    }

    AutoRunSuppression autoRun;
    DiskpartSettings settings;
    settings.echo = true;
    settings.successMessage = L"(KvPartitionHelper)diskpart attach successfully.";
    settings.beforeRun = [&autoRun] { autoRun.Suppress(); };
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
    return result;
}

}  // namespace kvph
