#include "frame/Folders.h"
#include "lifecycle/SizeSettings.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {

namespace {

// False when the folder could not be protected or a key could not be written.
bool writeUserData(const PER::VolumeLocation& location) {
    Platform& os = platform();
    if (!SecureDataDirectory(DataDirectory())) {
        return false;
    }
    const std::wstring path = UserDataIniPath();
    os.setFileAttributesW(path, win::FILE_ATTRIBUTE_NORMAL_);
    os.deleteFileW(path);
    const bool disk =
        os.writePrivateProfileStringW(kSettingsSection, kDiskKey, std::to_wstring(location.diskNumber), path)
            .ok;
    return disk && os.writePrivateProfileStringW(kSettingsSection, kPartitionKey,
                                                 std::to_wstring(location.position), path)
                       .ok;
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
