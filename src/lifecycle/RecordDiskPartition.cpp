#include "frame/Folders.h"
#include "frame/ProfileReplacement.h"
#include "lifecycle/SizeSettings.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

// False when the folder could not be protected or the file could not be replaced with both keys; the
// old file then stays as it was.
bool writeUserData(const PER::VolumeLocation& location) {
    if (!SecureDataDirectory(DataDirectory())) {
        return false;
    }
    ProfileReplacement userData(UserDataIniPath());
    return userData.write(kSettingsSection, kDiskKey, std::to_wstring(location.diskNumber)) &&
           userData.write(kSettingsSection, kPartitionKey, std::to_wstring(location.position)) &&
           userData.commit(win::FILE_ATTRIBUTE_NORMAL_);
}

std::optional<PER::VolumeLocation> findVolume(const std::wstring& letter) {
    PER::DriveManagerLease lease;
    return PER::FindLetteredVolume(lease.manager(), PER::CompleteDriveLetter(letter));
}

}  // namespace

std::optional<PER::VolumeLocation> RecordVolumeLocation(const std::wstring& letter) {
    const std::optional<PER::VolumeLocation> location = findVolume(letter);
    if (location) {
        writeUserData(*location);
    }
    return location;
}

int RecordDiskPartition(const std::wstring& letter) {
    const std::optional<PER::VolumeLocation> location = findVolume(letter);
    return location && writeUserData(*location) ? 1 : 0;
}

}  // namespace kvph
